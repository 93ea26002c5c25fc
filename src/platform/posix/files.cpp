// File functions of Win32 over the host file system: GetFileAttributesW, CopyFileW, DeleteFileW,
// RemoveDirectoryW and CreateFileW (of files, folders and volumes), with Windows' rules for
// read-only and in-use files.
#include "files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "errors.h"
#include "file_handle.h"
#include "host_path.h"
#include "syscalls.h"

namespace qx {
namespace {

bool LstatWin(LPCWSTR path, std::string* host, struct stat* info) {
    if (path == nullptr || !ToHostPath(std::wstring(path), host)) {
        if (path == nullptr) {
            SetLastError(ERROR_PATH_NOT_FOUND);
        }
        return false;
    }
    *host = WithoutTrailingSlashes(*host);
    if (sys::Lstat(host->c_str(), info) != 0) {
        SetLastErrorFromErrno(errno, *host);
        return false;
    }
    return true;
}

bool IsDirectoryOrLinkToOne(const std::string& host, const struct stat& info) {
    if (S_ISDIR(info.st_mode)) {
        return true;
    }
    struct stat target {};
    return S_ISLNK(info.st_mode) && sys::Stat(host.c_str(), &target) == 0 &&
           S_ISDIR(target.st_mode);
}

// Copies the `size` bytes that `in` held when it was opened to `out` in the kernel (a file that
// shrank meanwhile ends early), falling back to read/write where the kernel cannot (another file
// system kind, an old kernel). False with errno on failure.
bool CopyData(int in, int out, uint64_t size) {
    constexpr uint64_t kChunk = uint64_t{1} << 30;
    uint64_t left = size;
    bool anyCopied = false;
    while (left > 0) {
        ssize_t copied = sys::Copy(in, out, static_cast<size_t>(std::min(left, kChunk)));
        if (copied == 0) {
            return true;
        }
        if (copied > 0) {
            anyCopied = true;
            left -= static_cast<uint64_t>(copied);
            continue;
        }
        if (anyCopied ||
            (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EXDEV)) {
            return false;
        }
        break;
    }
    if (left == 0) {
        return true;
    }
    std::vector<char> buffer(size_t{1} << 20);
    for (;;) {
        ssize_t got = sys::Read(in, buffer.data(), buffer.size());
        if (got == 0) {
            return true;
        }
        if (got < 0) {
            return false;
        }
        if (!sys::WriteAll(out, buffer.data(), static_cast<size_t>(got))) {
            return false;
        }
    }
}

// Checks whether an existing target may be overwritten; false with the last error set.
bool TargetMayBeReplaced(const std::string& target, const struct stat& source, BOOL failIfExists) {
    struct stat info {};
    if (sys::Stat(target.c_str(), &info) != 0) {
        return true;  // missing (or a dangling link)
    }
    if (failIfExists) {
        SetLastError(ERROR_FILE_EXISTS);
        return false;
    }
    if (info.st_dev == source.st_dev && info.st_ino == source.st_ino) {
        // Copying a file onto itself would truncate the source first: Windows refuses it, since
        // the source is open without write sharing.
        SetLastError(ERROR_SHARING_VIOLATION);
        return false;
    }
    if (S_ISDIR(info.st_mode) || IsReadOnly(info)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

// Takes a non-blocking flock on our own descriptor; false (ERROR_SHARING_VIOLATION) when
// someone else's lock stands in the way. File systems without flock do not stop the copy.
bool LockOrReportInUse(int fd, int operation) {
    if (sys::Flock(fd, operation | LOCK_NB) == 0 || errno != EWOULDBLOCK) {
        return true;
    }
    SetLastError(ERROR_SHARING_VIOLATION);
    return false;
}

// Writes the source's data into the open target and gives it the source's permission bits and
// modification time. False with errno set.
bool FillTarget(int in, int out, const struct stat& source) {
    if (!CopyData(in, out, static_cast<uint64_t>(source.st_size))) {
        return false;
    }
    if (sys::Fchmod(out, source.st_mode & 07777) != 0) {
        return false;
    }
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    ::futimens(out, times);  // a time that cannot be kept is no reason to fail the copy
    return true;
}

// open(2) flags for a CreateFileW call; false for an unknown disposition.
bool OpenFlags(DWORD access, DWORD disposition, int* flags) {
    bool reading = (access & GENERIC_READ) != 0;
    bool writing = (access & GENERIC_WRITE) != 0;
    *flags = O_CLOEXEC | (writing ? (reading ? O_RDWR : O_WRONLY) : O_RDONLY);
    switch (disposition) {
        case CREATE_NEW:
            *flags |= O_CREAT | O_EXCL;
            return true;
        case CREATE_ALWAYS:
            *flags |= O_CREAT | O_TRUNC;
            return true;
        case OPEN_EXISTING:
            return true;
        case OPEN_ALWAYS:
            *flags |= O_CREAT;
            return true;
        case TRUNCATE_EXISTING:
            *flags |= O_TRUNC;
            return writing;
        default:
            return false;
    }
}

// The flock that stands for a share mode: none when everything is shared, exclusive when
// nothing is, shared otherwise (it keeps out an exclusive opener and lets readers in).
int LockForShareMode(DWORD shareMode) {
    const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    if ((shareMode & all) == all) {
        return 0;
    }
    return shareMode == 0 ? LOCK_EX : LOCK_SH;
}

// A folder opened with FILE_FLAG_BACKUP_SEMANTICS, as Windows allows, so that its entries can be
// flushed. Its read-only attribute does not refuse writing (Windows ignores it on folders), and no
// share mode is kept: the program never relies on one for a folder.
HANDLE OpenFolder(const std::string& host, DWORD access, DWORD disposition) {
    if (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    UniqueFd fd(sys::Open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.Valid()) {
        SetLastErrorFromErrno(errno, host, FailedCall::CreateFile);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(disposition == OPEN_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return AddHandle(std::make_shared<FileHandle>(fd.Release(), FileHandle::Kind::Folder, access));
}

// A volume, "\\.\C:": the file system behind the drive's root folder. Windows lets only an
// administrator (here: root) open it for access, and only shared for reading and writing, since
// the mounted file system has files open.
HANDLE OpenVolume(const std::string& root, DWORD access, DWORD share, DWORD disposition) {
    const DWORD readWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
    if (disposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (access != 0 && ::geteuid() != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if ((share & readWrite) != readWrite) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    UniqueFd fd(sys::Open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.Valid()) {
        SetLastErrorFromErrno(errno, root);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return AddHandle(std::make_shared<FileHandle>(fd.Release(), FileHandle::Kind::Volume, access));
}

}  // namespace

DWORD AttributesFromStat(const std::string& hostPath, const std::string& name,
                         const struct stat& info) {
    DWORD attributes = 0;
    if (S_ISLNK(info.st_mode)) {
        attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        struct stat target {};
        if (sys::Stat(hostPath.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) {
            attributes |= FILE_ATTRIBUTE_DIRECTORY;  // like a junction
        }
    } else if (S_ISDIR(info.st_mode)) {
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    } else {
        attributes |= FILE_ATTRIBUTE_ARCHIVE;
    }
    if (IsReadOnly(info)) {
        attributes |= FILE_ATTRIBUTE_READONLY;
    }
    if (!name.empty() && name[0] == '.' && name != "." && name != "..") {
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    }
    return attributes;
}

bool IsInUse(const std::string& hostPath, int operation) {
    // A fresh open file description: its flock conflicts with every other one, ours included.
    UniqueFd probe(sys::Open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!probe.Valid()) {
        return false;
    }
    if (sys::Flock(probe.Get(), operation | LOCK_NB) == 0) {
        return false;
    }
    return errno == EWOULDBLOCK;
}

}  // namespace qx

DWORD GetFileAttributesW(LPCWSTR lpFileName) {
    std::string host;
    struct stat info {};
    if (!qx::LstatWin(lpFileName, &host, &info)) {
        return INVALID_FILE_ATTRIBUTES;
    }
    return qx::AttributesFromStat(host, qx::LastComponent(host), info);
}

BOOL SetFileAttributesW(LPCWSTR lpFileName, DWORD dwFileAttributes) {
    std::string host;
    if (lpFileName == nullptr || !qx::ToHostPath(std::wstring(lpFileName), &host)) {
        if (lpFileName == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
        }
        return FALSE;
    }
    // Through a descriptor, so that the change goes through the system-call table like every
    // other change to a file.
    qx::UniqueFd fd(qx::sys::Open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (!fd.Valid() || qx::sys::Fstat(fd.Get(), &info) != 0) {
        qx::SetLastErrorFromErrno(errno, host);
        return FALSE;
    }
    const mode_t writeBits = S_IWUSR | S_IWGRP | S_IWOTH;
    const mode_t mode = (dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                            ? (info.st_mode & 07777 & ~writeBits)
                            : ((info.st_mode & 07777) | S_IWUSR);
    if (qx::sys::Fchmod(fd.Get(), mode) != 0) {
        qx::SetLastErrorFromErrno(errno, host);
        return FALSE;
    }
    return TRUE;
}

BOOL CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists) {
    std::string source, target;
    if (lpExistingFileName == nullptr || lpNewFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!qx::ToHostPath(std::wstring(lpExistingFileName), &source) ||
        !qx::ToHostPath(std::wstring(lpNewFileName), &target)) {
        return FALSE;
    }
    qx::UniqueFd in(qx::sys::Open(source.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat sourceInfo {};
    if (!in.Valid() || qx::sys::Fstat(in.Get(), &sourceInfo) != 0) {
        qx::SetLastErrorFromErrno(errno, source);
        return FALSE;
    }
    if (S_ISDIR(sourceInfo.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // Shared while we read, as Windows opens the source without write sharing.
    if (!qx::LockOrReportInUse(in.Get(), LOCK_SH)) {
        return FALSE;
    }
    if (!qx::TargetMayBeReplaced(target, sourceInfo, bFailIfExists)) {
        return FALSE;
    }

    // Written in place like Windows (no temporary file); O_EXCL tells us whether we made it.
    // An existing target is emptied only once we hold it, so one in use keeps its data.
    const int flags = O_WRONLY | O_CLOEXEC;
    qx::UniqueFd out(qx::sys::Open(target.c_str(), flags | O_CREAT | O_EXCL, 0600));
    bool created = out.Valid();
    if (!created && errno == EEXIST && !bFailIfExists) {
        out.Reset(qx::sys::Open(target.c_str(), flags));
        if (out.Valid() && !qx::LockOrReportInUse(out.Get(), LOCK_EX)) {
            return FALSE;
        }
        if (out.Valid() && qx::sys::Ftruncate(out.Get(), 0) != 0) {
            out.Reset();
        }
    }
    if (!out.Valid()) {
        qx::SetLastErrorFromErrno(errno, target, qx::FailedCall::CreateFile);
        return FALSE;
    }
    bool copied = qx::FillTarget(in.Get(), out.Get(), sourceInfo);
    int err = errno;
    if (qx::sys::Close(out.Release()) != 0 && copied) {
        copied = false;
        err = errno;
    }
    if (!copied) {
        // A partial file we created ourselves would pass for a good copy later: remove it.
        if (created) {
            qx::sys::Unlink(target.c_str());
        }
        qx::SetLastErrorFromErrno(err, target);
        return FALSE;
    }
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR lpFileName) {
    std::string host;
    struct stat info {};
    if (!qx::LstatWin(lpFileName, &host, &info)) {
        return FALSE;
    }
    if (!S_ISLNK(info.st_mode)) {
        // A link is removed whatever it points at; a file only when Windows would allow it.
        if (S_ISDIR(info.st_mode) || qx::IsReadOnly(info) || qx::IsInUse(host, LOCK_EX)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
    }
    if (qx::sys::Unlink(host.c_str()) != 0) {
        qx::SetLastErrorFromErrno(errno, host);
        return FALSE;
    }
    return TRUE;
}

BOOL RemoveDirectoryW(LPCWSTR lpPathName) {
    std::string host;
    struct stat info {};
    if (!qx::LstatWin(lpPathName, &host, &info)) {
        return FALSE;
    }
    if (!qx::IsDirectoryOrLinkToOne(host, info)) {
        SetLastError(ERROR_DIRECTORY);
        return FALSE;
    }
    if (S_ISLNK(info.st_mode)) {  // a link to a folder goes, the folder stays
        if (qx::sys::Unlink(host.c_str()) != 0) {
            qx::SetLastErrorFromErrno(errno, host);
            return FALSE;
        }
        return TRUE;
    }
    if (qx::IsReadOnly(info)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (qx::sys::Rmdir(host.c_str()) != 0) {
        qx::SetLastErrorFromErrno(errno, host, qx::FailedCall::RemoveDirectory);
        return FALSE;
    }
    return TRUE;
}

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                   HANDLE) {
    std::string host;
    int flags = 0;
    if (lpFileName == nullptr || !qx::OpenFlags(dwDesiredAccess, dwCreationDisposition, &flags)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (qx::VolumeRoot(lpFileName, &host)) {
        return qx::OpenVolume(host, dwDesiredAccess, dwShareMode, dwCreationDisposition);
    }
    if (!qx::ToHostPath(std::wstring(lpFileName), &host)) {
        return INVALID_HANDLE_VALUE;
    }

    struct stat info {};
    bool existed = qx::sys::Stat(host.c_str(), &info) == 0;
    if (existed) {
        if (S_ISDIR(info.st_mode) && (dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) != 0) {
            return qx::OpenFolder(host, dwDesiredAccess, dwCreationDisposition);
        }
        bool modifies = (dwDesiredAccess & GENERIC_WRITE) != 0 || (flags & O_TRUNC) != 0;
        if (S_ISDIR(info.st_mode) || (modifies && qx::IsReadOnly(info))) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        if (dwCreationDisposition == CREATE_NEW) {
            SetLastError(ERROR_FILE_EXISTS);
            return INVALID_HANDLE_VALUE;
        }
    }
    // Truncation waits until the share check has passed: a file in use must keep its data.
    bool truncate = (flags & O_TRUNC) != 0;
    mode_t mode = (dwFlagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    qx::UniqueFd fd(qx::sys::Open(host.c_str(), flags & ~O_TRUNC, mode));
    if (!fd.Valid()) {
        qx::SetLastErrorFromErrno(errno, host, qx::FailedCall::CreateFile);
        return INVALID_HANDLE_VALUE;
    }
    int lock = qx::LockForShareMode(dwShareMode);
    if (lock != 0 && qx::sys::Flock(fd.Get(), lock | LOCK_NB) != 0) {
        qx::SetLastErrorFromErrno(errno, host);  // EWOULDBLOCK: a sharing violation
        return INVALID_HANDLE_VALUE;
    }
    if (truncate && qx::sys::Ftruncate(fd.Get(), 0) != 0) {
        qx::SetLastErrorFromErrno(errno, host);
        return INVALID_HANDLE_VALUE;
    }
    // As in Windows, success says whether an existing file was opened where one could be made.
    bool mayCreate = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS;
    SetLastError(mayCreate && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return qx::AddHandle(std::make_shared<qx::FileHandle>(fd.Release(), qx::FileHandle::Kind::File,
                                                          dwDesiredAccess));
}
