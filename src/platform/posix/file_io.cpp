// ReadFile, WriteFile and SetFilePointerEx on the file handles of CreateFileW: the descriptor's
// read, write and lseek through the system-call table, so faults reach them as any other call.
#include <unistd.h>

#include <climits>

#include "errors.h"
#include "file_handle.h"

namespace qx {
namespace {

// The open file behind a handle for a synchronous call; null with the last error set otherwise.
std::shared_ptr<FileHandle> SynchronousFile(HANDLE handle, LPOVERLAPPED overlapped) {
    if (overlapped != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto file = LookUpHandleAs<FileHandle>(handle);
    if (file == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return file;
}

// A read or write the handle was not opened for is refused by Windows as access denied; the
// descriptor's EBADF says the same here.
void SetLastErrorOfTransfer(int err) {
    SetLastErrorFromErrno(err == EBADF ? EACCES : err);
}

}  // namespace
}  // namespace qx

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesRead == nullptr || (lpBuffer == nullptr && nNumberOfBytesToRead > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lpNumberOfBytesRead = 0;
    const auto file = qx::SynchronousFile(hFile, lpOverlapped);
    if (file == nullptr) {
        return FALSE;
    }
    const ssize_t got = qx::sys::Read(file->Descriptor(), lpBuffer, nNumberOfBytesToRead);
    if (got < 0) {
        qx::SetLastErrorOfTransfer(errno);
        return FALSE;
    }
    *lpNumberOfBytesRead = static_cast<DWORD>(got);
    return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    if (lpBuffer == nullptr && nNumberOfBytesToWrite > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD ignored = 0;
    DWORD& written = lpNumberOfBytesWritten != nullptr ? *lpNumberOfBytesWritten : ignored;
    written = 0;
    const auto file = qx::SynchronousFile(hFile, lpOverlapped);
    if (file == nullptr) {
        return FALSE;
    }
    const auto* bytes = static_cast<const char*>(lpBuffer);
    while (written < nNumberOfBytesToWrite) {
        const ssize_t put =
            qx::sys::Write(file->Descriptor(), bytes + written, nNumberOfBytesToWrite - written);
        if (put <= 0) {
            qx::SetLastErrorOfTransfer(put == 0 ? ENOSPC : errno);
            return FALSE;
        }
        written += static_cast<DWORD>(put);
    }
    return TRUE;
}

BOOL SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                      DWORD dwMoveMethod) {
    const int whence = dwMoveMethod == FILE_BEGIN     ? SEEK_SET
                       : dwMoveMethod == FILE_CURRENT ? SEEK_CUR
                       : dwMoveMethod == FILE_END     ? SEEK_END
                                                      : -1;
    if (whence < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto file = qx::SynchronousFile(hFile, nullptr);
    if (file == nullptr) {
        return FALSE;
    }
    const off_t position = qx::sys::Lseek(file->Descriptor(), liDistanceToMove.QuadPart, whence);
    if (position < 0) {
        // lseek's EINVAL is a position before the start of the file.
        SetLastError(errno == EINVAL ? ERROR_NEGATIVE_SEEK : qx::Win32ErrorFromErrno(errno));
        return FALSE;
    }
    if (lpNewFilePointer != nullptr) {
        lpNewFilePointer->QuadPart = position;
    }
    return TRUE;
}
