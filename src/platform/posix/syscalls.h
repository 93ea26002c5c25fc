// The layer's system calls, reached through a table of function pointers (in the manner of
// SQLite's aSyscall[]) so that tests can swap them at run time or make the Nth call fail.
//
// Fault injection:
//   In a test:  qx::InjectFault(qx::Sys::Write, 3, ENOSPC);           // the 3rd write from now
//               qx::InjectFault(qx::Sys::Write, 1, ENOSPC, "Documents"); // next write into a
//                                                                         // path holding
//                                                                         "Documents"
//               qx::ClearFaults();
//   In a run of the real program, the environment variable QXWEB_FAULTS holds the same as a
//   comma-separated list of  op:nth:errno-name[:substring], e.g.
//               QXWEB_FAULTS=write:5:ENOSPC,unlink:1:EACCES,copy:2:ENOSPC:Documents
//   op is one of open close read write lseek unlink rmdir mkdir copy rename fchmod stat lstat
//   fstat flock ftruncate opendir fsync syncfs; errno-name is a name such as ENOSPC or a number, or
//   SIGSTOP / SIGKILL to stop or end the process at that call instead (a test's stand-in for a
//   crash there), or POWERCUT / POWERCUT_GARBAGE to cut the power there (power_cut.h).
// A fault fires once, on the nth matching call counted from when it was set, and makes that
// call fail with the errno without reaching the system. With a substring, only calls whose path
// contains it count: the path given to open/unlink/..., for calls on a descriptor the path it was
// opened with through this table (for syncfs the folder it was given), for copy the path of the
// target, and for rename either of its two paths.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <memory>
#include <string>

namespace qx {

enum class Sys {
    Open,
    Close,
    Read,
    Write,
    Lseek,
    Unlink,
    Rmdir,
    Mkdir,
    Copy,
    Rename,
    Fchmod,
    Stat,
    Lstat,
    Fstat,
    Flock,
    Ftruncate,
    Opendir,
    Fsync,
    Syncfs,
    Count
};

struct SyscallTable {
    int (*open)(const char* path, int flags, mode_t mode);
    int (*close)(int fd);
    ssize_t (*read)(int fd, void* buffer, size_t size);
    ssize_t (*write)(int fd, const void* buffer, size_t size);
    off_t (*lseek)(int fd, off_t offset, int whence);
    int (*unlink)(const char* path);
    int (*rmdir)(const char* path);
    int (*mkdir)(const char* path, mode_t mode);
    // Copies up to size bytes from in's position to out's position inside the kernel
    // (copy_file_range, else sendfile); the byte count, 0 at the end of in, or -1 with errno.
    ssize_t (*copy)(int in, int out, size_t size);
    // Renames `from` to `to` like renameat2; `flags` is 0 or RENAME_NOREPLACE (kept even where
    // the file system lacks it, by a check before a plain rename). 0, or -1 with errno.
    int (*rename)(const char* from, const char* to, unsigned int flags);
    int (*fchmod)(int fd, mode_t mode);
    int (*stat)(const char* path, struct stat* info);
    int (*lstat)(const char* path, struct stat* info);
    int (*fstat)(int fd, struct stat* info);
    int (*flock)(int fd, int operation);
    int (*ftruncate)(int fd, off_t length);
    DIR* (*opendir)(const char* path);
    // The flushes: a file's or a folder's data and entry (fsync), or every change on the file
    // system that holds fd (syncfs). The layer calls them only where the program asks to flush.
    int (*fsync)(int fd);
    int (*syncfs)(int fd);
};

// The live table; tests may replace entries and must call ResetSyscalls() afterwards.
SyscallTable& Syscalls();
void ResetSyscalls();

void InjectFault(Sys op, unsigned nth, int err, const std::string& pathContains = std::string());
void ClearFaults();  // also those read from QXWEB_FAULTS

// Adds the faults of a list in the QXWEB_FAULTS syntax; false when an item was malformed (it is
// skipped, the others are added).
bool InjectFaults(const std::string& list);

// The name used in QXWEB_FAULTS ("write"), and back (false for an unknown name).
const char* SysName(Sys op);
bool SysFromName(const std::string& name, Sys* op);

// The calls the layer makes: fault check, then the table. Same results as the system calls,
// except that Read, Write and Copy start again when a signal interrupts them (EINTR), so no caller
// repeats them by hand; the descriptor calls also keep the path an fd was opened with, for
// path-restricted faults.
namespace sys {
int Open(const char* path, int flags, mode_t mode = 0);
int Close(int fd);
ssize_t Read(int fd, void* buffer, size_t size);
ssize_t Write(int fd, const void* buffer, size_t size);
off_t Lseek(int fd, off_t offset, int whence);
int Unlink(const char* path);
int Rmdir(const char* path);
int Mkdir(const char* path, mode_t mode);
ssize_t Copy(int in, int out, size_t size);
int Rename(const char* from, const char* to, unsigned int flags);
int Fchmod(int fd, mode_t mode);
int Stat(const char* path, struct stat* info);
int Lstat(const char* path, struct stat* info);
int Fstat(int fd, struct stat* info);
int Flock(int fd, int operation);
int Ftruncate(int fd, off_t length);
DIR* Opendir(const char* path);
int Fsync(int fd);
int Syncfs(int fd);

// Writes all of size bytes (retrying short writes); false with errno on failure.
bool WriteAll(int fd, const void* buffer, size_t size);

// The same straight to the system, past the table and its faults. The terminal and the transcript
// write through this: they are how a run is watched, so their lines must neither count towards
// the Nth write a fault names nor be lost to a fault meant for the program's files.
bool WriteAllPastFaults(int fd, const void* buffer, size_t size);

// Repeats a system call outside the table (waitpid, say) while a signal interrupts it.
template <typename Call>
auto RetryInterrupted(Call call) -> decltype(call()) {
    for (;;) {
        auto result = call();
        if (result >= 0 || errno != EINTR) {
            return result;
        }
    }
}
}  // namespace sys

// Closes a descriptor through the table when it goes out of scope.
class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Keeps errno, so an error path can close and still report the failure that led to it.
    void Reset(int fd = -1) {
        if (fd_ >= 0) {
            int saved = errno;
            sys::Close(fd_);
            errno = saved;
        }
        fd_ = fd;
    }

  private:
    int fd_;
};

// Closes a directory stream (from sys::Opendir or opendir) when it goes out of scope.
struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

}  // namespace qx
