// The client folder's layout, built from g_exeDir with JoinPath. The names of the folders live
// here only.
#include "layout/folders.h"

#include "fsutil/paths.h"
#include "fsutil/text.h"
#include "layout/patch_names.h"
#include "platform/win32.h"
#include "state/app_state.h"

namespace {

const wchar_t kDocuments[] = L"Documents";
const wchar_t kTmpPatch[] = L"TmpPatch";
const wchar_t kAll[] = L"All";
const wchar_t kOrgPatch[] = L"OrgPatch";
const wchar_t kUndone[] = L"Undone";
const wchar_t kRepairJournal[] = L"repair.journal";

const DWORD kModulePathChars = 512;

}  // namespace

std::wstring ExecutableFolder() {
    wchar_t modulePath[kModulePathChars] = {};
    GetModuleFileNameW(nullptr, modulePath, kModulePathChars);
    modulePath[kModulePathChars - 1] = L'\0';
    return FolderOf(modulePath);
}

std::wstring DocumentsFolder() {
    return JoinPath(g_exeDir, kDocuments);
}

const std::array<std::wstring, 4>& PatchSubFolderNames() {
    static const std::array<std::wstring, 4> names = {L"pkres", L"subver", L"patch_cache",
                                                      L"qatools"};
    return names;
}

std::wstring TmpPatchFolder() {
    return JoinPath(g_exeDir, kTmpPatch);
}

std::wstring TmpPatchPath(const std::wstring& name) {
    return JoinPath(TmpPatchFolder(), name);
}

std::wstring AllFolder() {
    return TmpPatchPath(kAll);
}

std::wstring OrgPatchFolder() {
    return TmpPatchPath(kOrgPatch);
}

std::wstring UndoneFolder() {
    return TmpPatchPath(kUndone);
}

std::wstring ExtractionFolder(const std::wstring& version) {
    return TmpPatchPath(version);
}

std::wstring CumulativeFolder(const std::wstring& newestVersion) {
    return TmpPatchPath(CumulativeFolderName(newestVersion));
}

std::wstring RepairJournalPath() {
    return TmpPatchPath(kRepairJournal);
}

bool IsPlainTmpName(const std::wstring& name) {
    if (name.empty() || name == L"." || name == L"..") {
        return false;
    }
    if (name.find_first_of(L"\\/:") != std::wstring::npos ||
        name.find(L'\0') != std::wstring::npos) {
        return false;
    }
    return !EqualsIgnoringAsciiCase(name, kAll) && !EqualsIgnoringAsciiCase(name, kOrgPatch) &&
           !EqualsIgnoringAsciiCase(name, kUndone);
}
