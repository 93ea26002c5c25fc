// The temporary folder's layout used by the extraction and merge stages, kept in one place so
// that both stages agree on where every archive is unpacked.
#include "repair/stage_folders.h"

#include <cwctype>

#include "fsutil/paths.h"
#include "net/http_client.h"
#include "patchlist/patch_list.h"
#include "repair/download_stage.h"
#include "state/app_state.h"

namespace {

bool EqualsIgnoringCase(const std::wstring& a, const wchar_t* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != L'\0'; ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i])) {
            return false;
        }
    }
    return i == a.size() && b[i] == L'\0';
}

}  // namespace

std::wstring TmpPatchFolder() {
    return JoinPath(g_exeDir, L"TmpPatch");
}

bool IsPlainTmpName(const std::wstring& name) {
    if (name.empty() || name == L"." || name == L"..") {
        return false;
    }
    if (name.find_first_of(L"\\/:") != std::wstring::npos) {
        return false;
    }
    return !EqualsIgnoringCase(name, L"All") && !EqualsIgnoringCase(name, L"OrgPatch");
}

std::wstring CumulativeFolderName(const std::wstring& newestVersion) {
    return L"patch" + CumulativePatchVersion(newestVersion);
}

bool CumulativePatchExpected() {
    if (g_patchList.empty()) {
        return false;
    }
    const HttpClient* client = GetHttpClient();
    return client != nullptr && client->cumulativePatchPresent;
}
