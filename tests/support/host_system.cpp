// Detection of Wine and of its departures from Windows, and symbolic links made with the system's
// own call on each side (libstdc++ makes no links on Windows); see host_system.h.
#include "support/host_system.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace qxtest {

#ifdef _WIN32
namespace {

// Opens a fresh read-only file in the temp folder for writing: does the system refuse it?
bool RefusesWritingReadOnlyFiles() {
    wchar_t folder[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH)
        return true;
    const std::wstring probe =
        std::wstring(folder) + L"qxtest-readonly-probe-" + std::to_wstring(GetCurrentProcessId());
    HANDLE created = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_READONLY, nullptr);
    if (created == INVALID_HANDLE_VALUE)
        return true;
    CloseHandle(created);
    HANDLE opened = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool refused = opened == INVALID_HANDLE_VALUE;
    if (!refused)
        CloseHandle(opened);
    SetFileAttributesW(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(probe.c_str());
    return refused;
}

}  // namespace

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool MakeSymlink(const std::string& target, const std::string& link, bool folder) {
    const std::wstring wideLink = fs::path(link).wstring();
    DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    if (folder)
        flags |= SYMBOLIC_LINK_FLAG_DIRECTORY;
    if (!CreateSymbolicLinkW(wideLink.c_str(), fs::path(target).wstring().c_str(), flags))
        return false;
    // Wine answers TRUE without making anything: believe only what the file system shows.
    DWORD attributes = GetFileAttributesW(wideLink.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

const char* NoSymlinkReason() {
    return RunningUnderWine() ? "Wine does not make symbolic links (CreateSymbolicLinkW is a stub)"
                              : "this Windows account may not make symbolic links";
}

const char* FolderReadOnlyIgnored() {
    return RunningUnderWine() ? "Wine does not keep the read-only attribute of a folder" : nullptr;
}

const char* ReadOnlyFileWritable() {
    static const bool refuses = RefusesWritingReadOnlyFiles();
    return refuses ? nullptr
                   : "Wine run as root opens read-only files for writing (the kernel lets root "
                     "through)";
}

const char* FileInUseEmptiedByFailedReplace() {
    return RunningUnderWine() ? "Wine empties a file in use when CreateFileW or CopyFileW "
                                "replace it and fail with a sharing violation"
                              : nullptr;
}

const char* ReadOnlyFileReplacedByMove() {
    return RunningUnderWine() ? "Wine replaces a read-only file by a move" : nullptr;
}

const char* FolderWithOpenFileMovable() {
    return RunningUnderWine() ? "Wine moves a folder while a file below it is open" : nullptr;
}

const char* LongPathsNotWalkable() {
    return "std::filesystem of MinGW does not walk paths longer than MAX_PATH";
}
#else
bool RunningUnderWine() {
    return false;
}

bool MakeSymlink(const std::string& target, const std::string& link, bool folder) {
    std::error_code ec;
    if (folder) {
        fs::create_directory_symlink(target, link, ec);
    } else {
        fs::create_symlink(target, link, ec);
    }
    return !ec;
}

const char* NoSymlinkReason() {
    return "the file system refused a symbolic link";
}

const char* FolderReadOnlyIgnored() {
    return nullptr;
}

const char* ReadOnlyFileWritable() {
    return nullptr;
}

const char* FileInUseEmptiedByFailedReplace() {
    return nullptr;
}

const char* ReadOnlyFileReplacedByMove() {
    return nullptr;
}

const char* FolderWithOpenFileMovable() {
    return nullptr;
}

const char* LongPathsNotWalkable() {
    return nullptr;
}
#endif

}  // namespace qxtest
