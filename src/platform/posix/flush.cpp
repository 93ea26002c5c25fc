// FlushFileBuffers: a file handle flushes the file (fsync), a folder handle the folder's entries
// (fsync of the folder), a volume handle every change on the file system behind the drive
// (syncfs). These are the layer's only flushes: it never flushes on its own, so a trace of its
// calls shows exactly what the program flushed.
#include "errors.h"
#include "file_handle.h"
#include "syscalls.h"

BOOL FlushFileBuffers(HANDLE hFile) {
    std::shared_ptr<qx::FileHandle> file = qx::LookUpHandleAs<qx::FileHandle>(hFile);
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // As on Windows, a handle opened without write access flushes nothing.
    if (!file->MayWrite()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const bool volume = file->kind() == qx::FileHandle::Kind::Volume;
    if ((volume ? qx::sys::Syncfs(file->fd()) : qx::sys::Fsync(file->fd())) != 0) {
        qx::SetLastErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}
