// CreateDirectoryW, and GetDiskFreeSpaceExW for the room on the volume that holds a folder.
#include <sys/statvfs.h>

#include "errors.h"
#include "host_path.h"
#include "syscalls.h"

BOOL CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES) {
    std::string host;
    if (lpPathName == nullptr || !qx::ToHostPath(std::wstring(lpPathName), &host)) {
        if (lpPathName == nullptr) {
            SetLastError(ERROR_PATH_NOT_FOUND);
        }
        return FALSE;
    }
    host = qx::WithoutTrailingSlashes(host);
    if (qx::sys::Mkdir(host.c_str(), 0777) != 0) {
        // EEXIST: ERROR_ALREADY_EXISTS, for a file of that name too; ENOENT: a missing parent.
        qx::SetLastErrorFromErrno(errno, host);
        return FALSE;
    }
    return TRUE;
}

BOOL GetDiskFreeSpaceExW(LPCWSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                         PULARGE_INTEGER lpTotalNumberOfBytes,
                         PULARGE_INTEGER lpTotalNumberOfFreeBytes) {
    std::string host;
    if (lpDirectoryName == nullptr || !qx::ToHostPath(std::wstring(lpDirectoryName), &host)) {
        if (lpDirectoryName == nullptr) {
            SetLastError(ERROR_PATH_NOT_FOUND);
        }
        return FALSE;
    }
    struct statvfs volume {};
    if (::statvfs(host.c_str(), &volume) != 0) {
        qx::SetLastErrorFromErrno(errno, host, qx::FailedCall::ListFolder);
        return FALSE;
    }
    const ULONGLONG unit = volume.f_frsize;
    // f_bavail leaves out the blocks reserved for root, which Windows' quotas stand for.
    if (lpFreeBytesAvailableToCaller != nullptr) {
        lpFreeBytesAvailableToCaller->QuadPart = unit * volume.f_bavail;
    }
    if (lpTotalNumberOfBytes != nullptr) {
        lpTotalNumberOfBytes->QuadPart = unit * volume.f_blocks;
    }
    if (lpTotalNumberOfFreeBytes != nullptr) {
        lpTotalNumberOfFreeBytes->QuadPart = unit * volume.f_bfree;
    }
    return TRUE;
}
