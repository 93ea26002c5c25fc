// FlushFileBuffers on a file, or on a folder opened with backup semantics; both need a handle open
// for writing.
#include "fsutil/flush.h"

#include "fsutil/file_failure.h"
#include "platform/owners.h"

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool FlushPath(const std::wstring& path, DWORD flags, FileFailure* failure) {
    const UniqueHandle handle(OpenForFlush(path, flags));
    if (!handle.valid()) {
        NoteFailure(failure, L"CreateFileW", path);
        return false;
    }
    return FlushHandleToDisk(handle.get(), path, failure);
}

}  // namespace

HANDLE OpenForFlush(const std::wstring& path, DWORD flags) {
    return CreateFileW(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, flags,
                       nullptr);
}

bool FlushHandleToDisk(HANDLE file, const std::wstring& path, FileFailure* failure) {
    if (FlushFileBuffers(file) == FALSE) {
        NoteFailure(failure, L"FlushFileBuffers", path);
        return false;
    }
    return true;
}

bool FlushFileToDisk(const std::wstring& path, FileFailure* failure) {
    return FlushPath(path, FILE_ATTRIBUTE_NORMAL, failure);
}

bool FlushFolderEntries(const std::wstring& folder, FileFailure* failure) {
    return FlushPath(folder, FILE_FLAG_BACKUP_SEMANTICS, failure);
}
