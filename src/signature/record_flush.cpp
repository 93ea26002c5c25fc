// FlushFileBuffers on a handle of its own: the system keeps one cache per file, so a handle opened
// after the file was written and closed flushes what the writes left in it. A folder needs
// FILE_FLAG_BACKUP_SEMANTICS to be opened at all; both need write access to be flushed.
#include "signature/record_flush.h"

#include "platform/owners.h"
#include "platform/win32.h"

namespace {

bool FlushPath(const std::wstring& path, DWORD flags, FileFailure* failure) {
    const UniqueHandle handle(CreateFileW(path.c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, flags, nullptr));
    if (!handle) {
        NoteFailure(failure, L"CreateFileW", path);
        return false;
    }
    if (FlushFileBuffers(handle.get()) == FALSE) {
        NoteFailure(failure, L"FlushFileBuffers", path);
        return false;
    }
    return true;
}

}  // namespace

bool FlushFileToDisk(const std::wstring& path, FileFailure* failure) {
    return FlushPath(path, FILE_ATTRIBUTE_NORMAL, failure);
}

bool FlushFolderToDisk(const std::wstring& folder, FileFailure* failure) {
    return FlushPath(folder, FILE_FLAG_BACKUP_SEMANTICS, failure);
}
