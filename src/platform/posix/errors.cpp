// The errno -> Win32 error switch (libuv keeps the inverse one in src/win/error.c).
#include "errors.h"

#include <sys/stat.h>

#include "host_path.h"

namespace qx {
namespace {

// True when the folder that would hold the path's last component exists.
bool ParentFolderExists(const std::string& hostPath) {
    struct stat info {};
    return ::stat(ParentFolder(hostPath).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

struct CallSpecificError {
    FailedCall call;
    int err;
    DWORD error;
};

const CallSpecificError kCallSpecificErrors[] = {
    {FailedCall::CreateFile, EEXIST, ERROR_FILE_EXISTS},
    // POSIX lets rmdir report a folder that is not empty with EEXIST as well as ENOTEMPTY.
    {FailedCall::RemoveDirectory, EEXIST, ERROR_DIR_NOT_EMPTY},
    {FailedCall::ListFolder, ENOENT, ERROR_PATH_NOT_FOUND},
    // Windows refuses to end a process that has already ended.
    {FailedCall::KillProcess, ESRCH, ERROR_ACCESS_DENIED},
    // Kernel threads and ended processes have no executable to show; Windows refuses to read
    // the image of a process it would not let us open.
    {FailedCall::ReadProcessImage, ENOENT, ERROR_ACCESS_DENIED},
};

}  // namespace

DWORD Win32ErrorFromErrno(int err, const std::string& hostPath, FailedCall call) {
    for (const CallSpecificError& special : kCallSpecificErrors) {
        if (special.call == call && special.err == err) {
            return special.error;
        }
    }
    switch (err) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return hostPath.empty() || ParentFolderExists(hostPath) ? ERROR_FILE_NOT_FOUND
                                                                    : ERROR_PATH_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;  // a component of the path is a file
        case EACCES:
        case EPERM:
        case EISDIR:
            return ERROR_ACCESS_DENIED;
        case EROFS:
            return ERROR_WRITE_PROTECT;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return ERROR_DISK_FULL;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case EBUSY:
        case ETXTBSY:
        case EWOULDBLOCK:
            return ERROR_SHARING_VIOLATION;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case ELOOP:
            return ERROR_CANT_RESOLVE_FILENAME;
        case EMLINK:
            return ERROR_TOO_MANY_LINKS;
        case EXDEV:
            return ERROR_NOT_SAME_DEVICE;
        case ENOSYS:
        case EOPNOTSUPP:
            return ERROR_NOT_SUPPORTED;
        case EPIPE:
            return ERROR_BROKEN_PIPE;
        case EINTR:
            return ERROR_OPERATION_ABORTED;
        case ESRCH:
            return ERROR_INVALID_PARAMETER;  // OpenProcess on a pid that does not exist
        case ENOEXEC:
            return ERROR_BAD_EXE_FORMAT;
        case EILSEQ:
            return ERROR_NO_UNICODE_TRANSLATION;
        case EIO:
        default:
            return ERROR_GEN_FAILURE;
    }
}

DWORD SetLastErrorFromErrno(int err, const std::string& hostPath, FailedCall call) {
    DWORD error = Win32ErrorFromErrno(err, hostPath, call);
    SetLastError(error);
    return error;
}

}  // namespace qx
