// The errno -> Win32 error switch (libuv keeps the inverse one in src/win/error.c).
#include "errors.h"

#include <sys/stat.h>

#include "host_path.h"

namespace qx {
namespace {

// True when the folder that would hold the path's last component exists.
bool ParentFolderExists(const std::string& hostPath) {
    std::string path = WithoutTrailingSlashes(hostPath);
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return true;  // relative name: the current folder
    }
    std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    struct stat info {};
    return ::stat(parent.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

DWORD Win32ErrorFromErrno(int err, const std::string& hostPath, Creating creating) {
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
            return creating == Creating::File ? ERROR_FILE_EXISTS : ERROR_ALREADY_EXISTS;
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
        case EILSEQ:
            return ERROR_NO_UNICODE_TRANSLATION;
        case EIO:
        default:
            return ERROR_GEN_FAILURE;
    }
}

DWORD SetLastErrorFromErrno(int err, const std::string& hostPath, Creating creating) {
    DWORD error = Win32ErrorFromErrno(err, hostPath, creating);
    SetLastError(error);
    return error;
}

}  // namespace qx
