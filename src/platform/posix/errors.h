// errno -> Win32 error translation, in one place, so that GetLastError() after any layer call
// means the same thing everywhere.
#pragma once

#include <string>

#include "win32_posix.h"

namespace qx {

// The call that failed, where it gives an errno a meaning of its own.
enum class FailedCall {
    Other,
    CreateFile,        // EEXIST: ERROR_FILE_EXISTS (a folder or a mutex: ERROR_ALREADY_EXISTS)
    RemoveDirectory,   // EEXIST: the folder is not empty
    ListFolder,        // ENOENT: the folder is missing, so the path is wrong
    KillProcess,       // ESRCH: the process has ended
    ReadProcessImage,  // ENOENT: /proc shows no executable for the process
};

// The Win32 error for errno value `err` from `call`. For ENOENT the path decides between
// ERROR_FILE_NOT_FOUND (its folder exists, the last component does not) and ERROR_PATH_NOT_FOUND.
DWORD Win32ErrorFromErrno(int err, const std::string& hostPath = std::string(),
                          FailedCall call = FailedCall::Other);

// Translates, sets the calling thread's last error and returns it.
DWORD SetLastErrorFromErrno(int err, const std::string& hostPath = std::string(),
                            FailedCall call = FailedCall::Other);

}  // namespace qx
