// MoveFileExW over one rename(2) with Windows' rules: an existing target stays unless replacing
// was asked for, a folder is never replaced, read-only and in-use files are refused, and a folder
// with a file in use below it does not move, as Windows keeps open files' folders in place.
// MOVEFILE_WRITE_THROUGH flushes both parent folders after the rename.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "errors.h"
#include "files.h"
#include "host_path.h"
#include "syscalls.h"

namespace qx {
namespace {

constexpr DWORD kSupportedFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

// The inodes on `device` that an open file holds a flock on, as /proc/locks lists them
// ("1: FLOCK  ADVISORY  WRITE 4711 fe:00:1234 0 EOF"; a waiting request, "1: -> FLOCK ...",
// holds nothing). Read past the fault table: it looks at the system, not at the program's files.
std::unordered_set<ino_t> FlockedInodesOn(dev_t device) {
    std::unordered_set<ino_t> inodes;
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, id;
        if (!(fields >> number >> kind >> mode >> access >> pid >> id) || kind != "FLOCK") {
            continue;
        }
        unsigned int major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(id.c_str(), "%x:%x:%llu", &major, &minor, &inode) == 3 &&
            makedev(major, minor) == device) {
            inodes.insert(static_cast<ino_t>(inode));
        }
    }
    return inodes;
}

bool IsFolderEntry(const std::string& path, const struct dirent& entry) {
    if (entry.d_type != DT_UNKNOWN) {
        return entry.d_type == DT_DIR;
    }
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// True when a file below `folder` (on `device`) is in use. Only when some file on that device is
// locked does it walk the tree, comparing the entries' inode numbers with the locked ones, so it
// reads the folders and nothing else. Unreadable folders are passed over: the rename decides.
bool FileBelowInUse(const std::string& folder, dev_t device) {
    const std::unordered_set<ino_t> locked = FlockedInodesOn(device);
    if (locked.empty()) {
        return false;
    }
    std::vector<std::string> pending{folder};
    while (!pending.empty()) {
        const std::string current = std::move(pending.back());
        pending.pop_back();
        UniqueDir dir(::opendir(current.c_str()));
        if (dir == nullptr) {
            continue;
        }
        while (dirent* entry = ::readdir(dir.get())) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") {
                continue;
            }
            if (locked.count(entry->d_ino) != 0) {
                return true;
            }
            const std::string path = current + "/" + name;
            if (IsFolderEntry(path, *entry)) {
                pending.push_back(path);
            }
        }
    }
    return false;
}

// Checks that the source may leave its name: Windows opens it for deletion, so a file in use is
// a sharing violation; a folder with a file in use below it is refused.
bool SourceMayMove(const std::string& source, const struct stat& info) {
    if (S_ISREG(info.st_mode) && IsInUse(source, LOCK_EX)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return false;
    }
    if (S_ISDIR(info.st_mode) && FileBelowInUse(source, info.st_dev)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

bool HasAttribute(const std::string& hostPath, const struct stat& info, DWORD attribute) {
    return (AttributesFromStat(hostPath, LastComponent(hostPath), info) & attribute) != 0;
}

// Checks that an existing target may be replaced. MOVEFILE_REPLACE_EXISTING is for files only:
// a folder (a link to one too, like a junction) is not replaced, nor is a file by a folder.
bool TargetMayBeReplaced(const std::string& source, const struct stat& sourceInfo,
                         const std::string& target, const struct stat& targetInfo) {
    const DWORD refused = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY;
    if (HasAttribute(target, targetInfo, refused) ||
        HasAttribute(source, sourceInfo, FILE_ATTRIBUTE_DIRECTORY) ||
        (S_ISREG(targetInfo.st_mode) && IsInUse(target, LOCK_EX))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when two paths of one file are one name in one folder rather than two hard links.
bool SameName(const std::string& a, const std::string& b) {
    struct stat folderA {};
    struct stat folderB {};
    return LastComponent(a) == LastComponent(b) && ::stat(ParentFolder(a).c_str(), &folderA) == 0 &&
           ::stat(ParentFolder(b).c_str(), &folderB) == 0 && SameFile(folderA, folderB);
}

// Puts the entries of the folders that lost and gained the name on the disk; false with the last
// error set.
bool FlushParentFolders(const std::string& source, const std::string& target) {
    std::vector<std::string> folders{ParentFolder(source)};
    if (ParentFolder(target) != folders.front()) {
        folders.push_back(ParentFolder(target));
    }
    for (const std::string& folder : folders) {
        UniqueFd fd(sys::Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!fd.Valid() || sys::Fsync(fd.Get()) != 0) {
            SetLastErrorFromErrno(errno, folder);
            return false;
        }
    }
    return true;
}

}  // namespace
}  // namespace qx

BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
    if (lpExistingFileName == nullptr || lpNewFileName == nullptr ||
        (dwFlags & ~qx::kSupportedFlags) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string source, target;
    if (!qx::ToHostPath(std::wstring(lpExistingFileName), &source) ||
        !qx::ToHostPath(std::wstring(lpNewFileName), &target)) {
        return FALSE;
    }
    source = qx::WithoutTrailingSlashes(source);
    target = qx::WithoutTrailingSlashes(target);
    struct stat sourceInfo {};
    if (qx::sys::Lstat(source.c_str(), &sourceInfo) != 0) {
        qx::SetLastErrorFromErrno(errno, source);
        return FALSE;
    }
    if (!qx::SourceMayMove(source, sourceInfo)) {
        return FALSE;
    }

    const bool replace = (dwFlags & MOVEFILE_REPLACE_EXISTING) != 0;
    struct stat targetInfo {};
    const bool targetExists = qx::sys::Lstat(target.c_str(), &targetInfo) == 0;
    const bool sameFile = targetExists && qx::SameFile(sourceInfo, targetInfo);
    if (sameFile && qx::SameName(source, target)) {
        return TRUE;  // a move onto its own name changes nothing, as on Windows
    }
    if (replace && targetExists &&
        !qx::TargetMayBeReplaced(source, sourceInfo, target, targetInfo)) {
        return FALSE;
    }
    if (replace && sameFile) {
        // rename(2) leaves both hard links of one file in place; the move drops the source name.
        if (qx::sys::Unlink(source.c_str()) != 0) {
            qx::SetLastErrorFromErrno(errno, source);
            return FALSE;
        }
    } else if (qx::sys::Rename(source.c_str(), target.c_str(), replace ? 0 : RENAME_NOREPLACE) !=
               0) {
        // Without replacing, the kernel refuses an existing target itself: a target made between
        // a check and the rename is never overwritten.
        qx::SetLastErrorFromErrno(errno, target);
        return FALSE;
    }
    const bool writeThrough = (dwFlags & MOVEFILE_WRITE_THROUGH) != 0;
    return !writeThrough || qx::FlushParentFolders(source, target) ? TRUE : FALSE;
}
