// Reading and writing through a file handle: ReadFile, WriteFile, SetFilePointerEx and
// SetEndOfFile over the descriptor CreateFileW opened, through the system-call table, so faults
// reach them like every other file call.
#include <unistd.h>

#include "errors.h"
#include "file_handle.h"
#include "syscalls.h"

namespace qx {
namespace {

// The file behind a handle, when it is one (not a folder or a volume) opened for `mayDo`; else
// null with the last error set.
std::shared_ptr<FileHandle> OpenFile(HANDLE handle, bool (FileHandle::*mayDo)() const) {
    std::shared_ptr<FileHandle> file = LookUpHandleAs<FileHandle>(handle);
    if (!file || file->kind() != FileHandle::Kind::File) {
        SetLastError(file ? ERROR_INVALID_FUNCTION : ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!((*file).*mayDo)()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return file;
}

}  // namespace
}  // namespace qx

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED) {
    if (lpNumberOfBytesRead != nullptr) {
        *lpNumberOfBytesRead = 0;
    }
    std::shared_ptr<qx::FileHandle> file = qx::OpenFile(hFile, &qx::FileHandle::MayRead);
    if (!file) {
        return FALSE;
    }
    const ssize_t got = qx::sys::Read(file->fd(), lpBuffer, nNumberOfBytesToRead);
    if (got < 0) {
        qx::SetLastErrorFromErrno(errno);
        return FALSE;
    }
    if (lpNumberOfBytesRead != nullptr) {
        *lpNumberOfBytesRead = static_cast<DWORD>(got);
    }
    return TRUE;
}

// A disk file takes all the bytes or fails, as on Windows; the count says how many arrived.
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED) {
    if (lpNumberOfBytesWritten != nullptr) {
        *lpNumberOfBytesWritten = 0;
    }
    std::shared_ptr<qx::FileHandle> file = qx::OpenFile(hFile, &qx::FileHandle::MayWrite);
    if (!file) {
        return FALSE;
    }
    const char* bytes = static_cast<const char*>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToWrite) {
        const ssize_t written =
            qx::sys::Write(file->fd(), bytes + done, nNumberOfBytesToWrite - done);
        if (written <= 0) {
            qx::SetLastErrorFromErrno(written == 0 ? ENOSPC : errno);
            return FALSE;
        }
        done += static_cast<DWORD>(written);
        if (lpNumberOfBytesWritten != nullptr) {
            *lpNumberOfBytesWritten = done;
        }
    }
    return TRUE;
}

BOOL SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                      DWORD dwMoveMethod) {
    std::shared_ptr<qx::FileHandle> file = qx::LookUpHandleAs<qx::FileHandle>(hFile);
    const int whence = dwMoveMethod == FILE_BEGIN     ? SEEK_SET
                       : dwMoveMethod == FILE_CURRENT ? SEEK_CUR
                       : dwMoveMethod == FILE_END     ? SEEK_END
                                                      : -1;
    if (!file || whence < 0) {
        SetLastError(file ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const off_t at =
        qx::sys::Lseek(file->fd(), static_cast<off_t>(liDistanceToMove.QuadPart), whence);
    if (at < 0) {
        SetLastError(errno == EINVAL ? ERROR_NEGATIVE_SEEK : qx::Win32ErrorFromErrno(errno));
        return FALSE;
    }
    if (lpNewFilePointer != nullptr) {
        lpNewFilePointer->QuadPart = at;
    }
    return TRUE;
}

BOOL SetEndOfFile(HANDLE hFile) {
    std::shared_ptr<qx::FileHandle> file = qx::OpenFile(hFile, &qx::FileHandle::MayWrite);
    if (!file) {
        return FALSE;
    }
    const off_t at = qx::sys::Lseek(file->fd(), 0, SEEK_CUR);
    if (at < 0 || qx::sys::Ftruncate(file->fd(), at) != 0) {
        qx::SetLastErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}
