// Checks of the installed client before any repair work: are its main files present, and is its
// local version (read from the local version file) older than the newest patch-list version.
#include "client/integrity.h"

#include <cstring>
#include <string>

#include "fsutil/paths.h"
#include "fsutil/text.h"
#include "layout/client_files.h"
#include "patchlist/version.h"
#include "platform/owners.h"
#include "platform/win32.h"

namespace {

// The client's main files, present when anything of that name exists (a folder too); the last
// three count only while the local version file is absent.
const wchar_t* const kRequiredFiles[] = {
    kGameLibraryName,    kGameExecutableName,    L"HashRes\\Json.npk",
    L"HashRes\\res.npk", L"HashRes\\script.npk",
};
constexpr size_t kFilesWithVersionFile = 2;
constexpr size_t kFilesWithoutVersionFile = sizeof(kRequiredFiles) / sizeof(kRequiredFiles[0]);

// The version text is at most this many bytes, up to the first zero byte.
constexpr size_t kLocalVersionBytes = 256;

// Reads the local version file's text; false when it cannot be opened.
bool ReadLocalVersionText(const std::wstring& path, std::string& text) {
    UniqueFile file(_wfopen(path.c_str(), L"rb"));
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

bool CheckResourceIntegrity(const std::wstring& folder) {
    const bool hasVersionFile = PathExists(JoinPath(folder, kLocalVersionFileName));
    const size_t count = hasVersionFile ? kFilesWithVersionFile : kFilesWithoutVersionFile;
    for (size_t i = 0; i < count; ++i) {
        if (!PathExists(JoinPath(folder, kRequiredFiles[i]))) {
            return false;
        }
    }
    return true;
}

bool NeedsRepair(const std::wstring& clientFolder, const std::vector<PatchEntry>& patchList,
                 std::wstring& localVersion) {
    const std::wstring path = JoinPath(clientFolder, kLocalVersionFileName);
    if (!PathExists(path)) {
        return true;
    }
    std::string text;
    if (!ReadLocalVersionText(path, text)) {
        return true;
    }
    if (!text.empty()) {
        AnsiToWide(text, localVersion);
    }
    if (patchList.empty() || localVersion.empty()) {
        return true;
    }
    return CompareVersions(patchList.back().version, localVersion) > 0;
}
