// Checks of the installed client before any repair work: are its main files present, and is its
// local version (read from the local version file) older than the newest patch-list version.
#include "app/integrity.h"

#include <cstring>
#include <memory>
#include <string>

#include "app/app_state.h"
#include "fsutil/paths.h"
#include "fsutil/text.h"
#include "patchlist/patch_list.h"
#include "patchlist/version.h"
#include "platform/win32.h"

namespace {

const wchar_t kLocalVersionFile[] = L"findownload.dat";

// The client's main files; the last three count only while the local version file is absent.
const wchar_t* const kRequiredFiles[] = {
    L"vazazu.dll", L"vazazu.exe", L"HashRes\\Json.npk", L"HashRes\\res.npk", L"HashRes\\script.npk",
};
constexpr size_t kFilesWithVersionFile = 2;
constexpr size_t kFilesWithoutVersionFile = sizeof(kRequiredFiles) / sizeof(kRequiredFiles[0]);

// The version text is at most this many bytes, up to the first zero byte.
constexpr size_t kLocalVersionBytes = 256;

// Present means GetFileAttributesW answers at all: a folder of that name counts too.
bool ClientPathPresent(const std::wstring& path) {
    return !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct FileCloser {
    void operator()(FILE* file) const { fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Reads the local version file's text; false when it cannot be opened.
bool ReadLocalVersionText(const std::wstring& path, std::string& text) {
    FilePtr file(_wfopen(path.c_str(), L"rb"));
    if (!file) {
        return false;
    }
    char buffer[kLocalVersionBytes] = {};
    const size_t read = fread(buffer, 1, sizeof(buffer), file.get());
    // A full buffer has no terminator of its own: never look past the bytes read.
    const void* zero = std::memchr(buffer, '\0', read);
    const size_t length =
        zero ? static_cast<size_t>(static_cast<const char*>(zero) - buffer) : read;
    text.assign(buffer, length);
    return true;
}

}  // namespace

bool CheckResourceIntegrity() {
    const bool hasVersionFile = ClientPathPresent(JoinPath(g_exeDir, kLocalVersionFile));
    const size_t count = hasVersionFile ? kFilesWithVersionFile : kFilesWithoutVersionFile;
    for (size_t i = 0; i < count; ++i) {
        if (!ClientPathPresent(JoinPath(g_exeDir, kRequiredFiles[i]))) {
            return false;
        }
    }
    return true;
}

bool NeedsRepair() {
    const std::wstring path = JoinPath(g_exeDir, kLocalVersionFile);
    if (!ClientPathPresent(path)) {
        return true;
    }
    std::string text;
    if (!ReadLocalVersionText(path, text)) {
        return true;
    }
    if (!text.empty()) {
        AnsiToWide(text, g_localVersion);
    }
    if (g_patchList.empty() || g_localVersion.empty()) {
        return true;
    }
    return CompareVersions(g_patchList.back().version, g_localVersion) > 0;
}
