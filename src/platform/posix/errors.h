// errno -> Win32 error translation, in one place, so that GetLastError() after any layer call
// means the same thing everywhere.
#pragma once

#include <string>

#include "win32_posix.h"

namespace qx {

// How EEXIST reads: creating a file reports ERROR_FILE_EXISTS, anything else (a folder, a
// mutex) ERROR_ALREADY_EXISTS.
enum class Creating { Other, File };

// The Win32 error for errno value `err`. For ENOENT the path decides between
// ERROR_FILE_NOT_FOUND (its folder exists, the last component does not) and ERROR_PATH_NOT_FOUND.
DWORD Win32ErrorFromErrno(int err, const std::string& hostPath = std::string(),
                          Creating creating = Creating::Other);

// Translates, sets the calling thread's last error and returns it.
DWORD SetLastErrorFromErrno(int err, const std::string& hostPath = std::string(),
                            Creating creating = Creating::Other);

}  // namespace qx
