// The system-call table, its fault injection (from tests or from QXWEB_FAULTS) and the wrappers
// the layer calls.
#include "syscalls.h"

#include "power_cut.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace qx {
namespace {

int DefaultOpen(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}

ssize_t DefaultCopy(int in, int out, size_t size) {
    ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, size, 0);
    if (copied >= 0) {
        return copied;
    }
    if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) {
        return -1;
    }
    return ::sendfile(out, in, nullptr, size);
}

// File systems without RENAME_NOREPLACE (some network and FUSE ones) answer EINVAL; there the
// check for an existing target comes first, which leaves a short window in which a target made
// meanwhile would be replaced.
int DefaultRename(const char* from, const char* to, unsigned int flags) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, flags) == 0) {
        return 0;
    }
    if ((flags & RENAME_NOREPLACE) == 0 || (errno != EINVAL && errno != ENOSYS)) {
        return -1;
    }
    struct stat info {};
    if (::lstat(to, &info) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from, to);
}

const SyscallTable kDefaultTable = {
    DefaultOpen, ::close,     ::read,        ::write,  ::lseek,  ::unlink, ::rmdir,
    ::mkdir,     DefaultCopy, DefaultRename, ::fchmod, ::stat,   ::lstat,  ::fstat,
    ::flock,     ::ftruncate, ::opendir,     ::fsync,  ::syncfs,
};

SyscallTable g_table = kDefaultTable;

const char* const kNames[] = {"open",  "close",     "read",    "write",  "lseek", "unlink", "rmdir",
                              "mkdir", "copy",      "rename",  "fchmod", "stat",  "lstat",  "fstat",
                              "flock", "ftruncate", "opendir", "fsync",  "syncfs"};
static_assert(sizeof(kNames) / sizeof(kNames[0]) == static_cast<size_t>(Sys::Count),
              "one name per system call");

struct Fault {
    Sys op;
    unsigned remaining;  // matching calls still to pass before this one fails
    int err;
    std::string pathContains;
    int signal = 0;         // instead of failing, the process raises this signal on itself
    bool powerCut = false;  // instead of failing, the power is cut: unflushed data is lost
    power_cut::Loss loss = power_cut::Loss::Truncate;
};

struct Faults {
    std::mutex lock;
    bool environmentRead = false;
    std::vector<Fault> pending;
    std::unordered_map<int, std::string> fdPaths;
};

Faults& State() {
    static auto* state = new Faults();  // used until the very end of the process
    return *state;
}

const struct {
    const char* name;
    int value;
} kErrnoNames[] = {
    {"ENOSPC", ENOSPC},       {"EACCES", EACCES},
    {"EPERM", EPERM},         {"EIO", EIO},
    {"ENOENT", ENOENT},       {"EEXIST", EEXIST},
    {"EBUSY", EBUSY},         {"ETXTBSY", ETXTBSY},
    {"EROFS", EROFS},         {"EMFILE", EMFILE},
    {"ENFILE", ENFILE},       {"ENOMEM", ENOMEM},
    {"EINTR", EINTR},         {"EAGAIN", EAGAIN},
    {"EDQUOT", EDQUOT},       {"EFBIG", EFBIG},
    {"EISDIR", EISDIR},       {"ENOTDIR", ENOTDIR},
    {"EINVAL", EINVAL},       {"EXDEV", EXDEV},
    {"ENOTEMPTY", ENOTEMPTY}, {"ENAMETOOLONG", ENAMETOOLONG},
    {"ENOSYS", ENOSYS},       {"EBADF", EBADF},
    {"ELOOP", ELOOP},
};

// The test hooks that stand for a crash at a chosen call: SIGSTOP holds the process there for the
// test to kill (the call goes ahead if it is continued), SIGKILL ends it there.
bool SignalFromName(const std::string& name, int* signal) {
    if (name == "SIGSTOP") {
        *signal = SIGSTOP;
        return true;
    }
    if (name == "SIGKILL") {
        *signal = SIGKILL;
        return true;
    }
    return false;
}

// The simulated power cut (power_cut.h): the unflushed bytes are cut off, or turned to garbage.
bool PowerCutFromName(const std::string& name, power_cut::Loss* loss) {
    if (name == "POWERCUT") {
        *loss = power_cut::Loss::Truncate;
        return true;
    }
    if (name == "POWERCUT_GARBAGE") {
        *loss = power_cut::Loss::Garbage;
        return true;
    }
    return false;
}

bool ErrnoFromName(const std::string& name, int* err) {
    for (const auto& entry : kErrnoNames) {
        if (name == entry.name) {
            *err = entry.value;
            return true;
        }
    }
    char* end = nullptr;
    long value = std::strtol(name.c_str(), &end, 10);
    if (name.empty() || *end != '\0' || value <= 0) {
        return false;
    }
    *err = static_cast<int>(value);
    return true;
}

std::vector<std::string> Split(const std::string& text, char separator, size_t maxPieces) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (pieces.size() + 1 < maxPieces) {
        size_t at = text.find(separator, start);
        if (at == std::string::npos) {
            break;
        }
        pieces.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

// Adds the faults of a QXWEB_FAULTS-style list; false when an item was malformed.
bool AddFaultsLocked(Faults& state, const std::string& list) {
    bool allGood = true;
    for (const std::string& item : Split(list, ',', SIZE_MAX)) {
        if (item.empty()) {
            continue;
        }
        // The substring is the rest of the item, so it may itself hold ':'.
        std::vector<std::string> parts = Split(item, ':', 4);
        Sys op{};
        int err = 0;
        int signal = 0;
        power_cut::Loss loss{};
        char* end = nullptr;
        unsigned long nth = parts.size() >= 3 ? std::strtoul(parts[1].c_str(), &end, 10) : 0;
        const bool powerCut = parts.size() >= 3 && PowerCutFromName(parts[2], &loss);
        if (parts.size() < 3 || !SysFromName(parts[0], &op) || nth == 0 || *end != '\0' ||
            !(powerCut || SignalFromName(parts[2], &signal) || ErrnoFromName(parts[2], &err))) {
            std::fprintf(stderr, "QXWEB_FAULTS: ignoring \"%s\"\n", item.c_str());
            allGood = false;
            continue;
        }
        state.pending.push_back({op, static_cast<unsigned>(nth), err,
                                 parts.size() == 4 ? parts[3] : std::string(), signal, powerCut,
                                 loss});
        if (powerCut) {
            power_cut::Arm();
        }
    }
    return allGood;
}

// Reads QXWEB_FAULTS once, at the first call that could fail.
void ReadEnvironmentLocked(Faults& state) {
    if (state.environmentRead) {
        return;
    }
    state.environmentRead = true;
    const char* text = std::getenv("QXWEB_FAULTS");
    if (text != nullptr) {
        AddFaultsLocked(state, text);
    }
}

bool Contains(const char* path, const std::string& part) {
    return path != nullptr && std::strstr(path, part.c_str()) != nullptr;
}

// Counts this call against the pending faults of its kind; true (errno set) when it must fail.
// A call with two paths (rename) matches a fault's substring through either. A signal fault is
// raised outside the lock and lets the call go ahead; a power cut ends the process there.
bool ShouldFail(Sys op, const char* path, const char* otherPath = nullptr) {
    int signal = 0;
    bool powerCut = false;
    power_cut::Loss loss{};
    {
        Faults& state = State();
        std::lock_guard<std::mutex> guard(state.lock);
        ReadEnvironmentLocked(state);
        for (auto it = state.pending.begin(); it != state.pending.end(); ++it) {
            if (it->op != op) {
                continue;
            }
            if (!it->pathContains.empty() && !Contains(path, it->pathContains) &&
                !Contains(otherPath, it->pathContains)) {
                continue;
            }
            if (--it->remaining == 0) {
                const int err = it->err;
                signal = it->signal;
                powerCut = it->powerCut;
                loss = it->loss;
                state.pending.erase(it);
                if (signal == 0 && !powerCut) {
                    errno = err;
                    return true;
                }
                break;
            }
        }
    }
    if (powerCut) {
        power_cut::Cut(loss);
    }
    if (signal != 0) {
        std::raise(signal);
    }
    return false;
}

// The path an fd was opened with, for path-restricted faults ("" when unknown).
std::string PathOf(int fd) {
    Faults& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    auto it = state.fdPaths.find(fd);
    return it == state.fdPaths.end() ? std::string() : it->second;
}

bool ShouldFailOnFd(Sys op, int fd) {
    {
        Faults& state = State();
        std::lock_guard<std::mutex> guard(state.lock);
        ReadEnvironmentLocked(state);
        if (state.pending.empty()) {
            return false;  // the common case: no map look-up
        }
    }
    return ShouldFail(op, PathOf(fd).c_str());
}

ssize_t WritePastFaults(int fd, const void* buffer, size_t size) {
    return sys::RetryInterrupted([&] { return ::write(fd, buffer, size); });
}

// Writes all bytes through `write`, which retries interrupted calls itself; a write that makes no
// progress counts as a full disk.
bool WriteAllThrough(ssize_t (*write)(int, const void*, size_t), int fd, const void* buffer,
                     size_t size) {
    const char* bytes = static_cast<const char*>(buffer);
    while (size > 0) {
        ssize_t written = write(fd, bytes, size);
        if (written < 0) {
            return false;
        }
        if (written == 0) {
            errno = ENOSPC;
            return false;
        }
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace

SyscallTable& Syscalls() {
    return g_table;
}

void ResetSyscalls() {
    g_table = kDefaultTable;
}

void InjectFault(Sys op, unsigned nth, int err, const std::string& pathContains) {
    Faults& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    ReadEnvironmentLocked(state);
    state.pending.push_back({op, nth == 0 ? 1 : nth, err, pathContains});
}

void ClearFaults() {
    Faults& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    state.environmentRead = true;
    state.pending.clear();
}

bool InjectFaults(const std::string& list) {
    Faults& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    ReadEnvironmentLocked(state);
    return AddFaultsLocked(state, list);
}

const char* SysName(Sys op) {
    return kNames[static_cast<size_t>(op)];
}

bool SysFromName(const std::string& name, Sys* op) {
    for (size_t i = 0; i < static_cast<size_t>(Sys::Count); ++i) {
        if (name == kNames[i]) {
            *op = static_cast<Sys>(i);
            return true;
        }
    }
    return false;
}

namespace sys {

int Open(const char* path, int flags, mode_t mode) {
    if (ShouldFail(Sys::Open, path)) {
        return -1;
    }
    int fd = g_table.open(path, flags, mode);
    if (fd >= 0 && (flags & O_TRUNC) != 0) {
        power_cut::ChangeScope truncated(fd, 0);
    }
    if (fd >= 0) {
        Faults& state = State();
        std::lock_guard<std::mutex> guard(state.lock);
        state.fdPaths[fd] = path;
    }
    return fd;
}

int Close(int fd) {
    bool fail = ShouldFailOnFd(Sys::Close, fd);
    {
        // The descriptor is gone either way (as with close(2)), so forget its path.
        Faults& state = State();
        std::lock_guard<std::mutex> guard(state.lock);
        state.fdPaths.erase(fd);
    }
    if (fail) {
        int err = errno;
        g_table.close(fd);
        errno = err;
        return -1;
    }
    return g_table.close(fd);
}

// An injected EINTR is retried like a real one: the fault has fired, the next try goes through.
ssize_t Read(int fd, void* buffer, size_t size) {
    return RetryInterrupted(
        [&] { return ShouldFailOnFd(Sys::Read, fd) ? -1 : g_table.read(fd, buffer, size); });
}

ssize_t Write(int fd, const void* buffer, size_t size) {
    return RetryInterrupted([&]() -> ssize_t {
        if (ShouldFailOnFd(Sys::Write, fd)) {
            return -1;
        }
        power_cut::ChangeScope change(fd);
        return g_table.write(fd, buffer, size);
    });
}

off_t Lseek(int fd, off_t offset, int whence) {
    return ShouldFailOnFd(Sys::Lseek, fd) ? -1 : g_table.lseek(fd, offset, whence);
}

int Unlink(const char* path) {
    return ShouldFail(Sys::Unlink, path) ? -1 : g_table.unlink(path);
}

int Rmdir(const char* path) {
    return ShouldFail(Sys::Rmdir, path) ? -1 : g_table.rmdir(path);
}

int Mkdir(const char* path, mode_t mode) {
    return ShouldFail(Sys::Mkdir, path) ? -1 : g_table.mkdir(path, mode);
}

ssize_t Copy(int in, int out, size_t size) {
    return RetryInterrupted([&]() -> ssize_t {
        if (ShouldFailOnFd(Sys::Copy, out)) {
            return -1;
        }
        power_cut::ChangeScope change(out);
        return g_table.copy(in, out, size);
    });
}

int Rename(const char* from, const char* to, unsigned int flags) {
    return ShouldFail(Sys::Rename, from, to) ? -1 : g_table.rename(from, to, flags);
}

int Fchmod(int fd, mode_t mode) {
    return ShouldFailOnFd(Sys::Fchmod, fd) ? -1 : g_table.fchmod(fd, mode);
}

int Stat(const char* path, struct stat* info) {
    return ShouldFail(Sys::Stat, path) ? -1 : g_table.stat(path, info);
}

int Lstat(const char* path, struct stat* info) {
    return ShouldFail(Sys::Lstat, path) ? -1 : g_table.lstat(path, info);
}

int Fstat(int fd, struct stat* info) {
    return ShouldFailOnFd(Sys::Fstat, fd) ? -1 : g_table.fstat(fd, info);
}

int Flock(int fd, int operation) {
    return ShouldFailOnFd(Sys::Flock, fd) ? -1 : g_table.flock(fd, operation);
}

int Ftruncate(int fd, off_t length) {
    if (ShouldFailOnFd(Sys::Ftruncate, fd)) {
        return -1;
    }
    power_cut::ChangeScope change(fd, length);
    return g_table.ftruncate(fd, length);
}

DIR* Opendir(const char* path) {
    return ShouldFail(Sys::Opendir, path) ? nullptr : g_table.opendir(path);
}

int Fsync(int fd) {
    if (ShouldFailOnFd(Sys::Fsync, fd) || g_table.fsync(fd) != 0) {
        return -1;
    }
    power_cut::NoteFileFlushed(fd);
    return 0;
}

int Syncfs(int fd) {
    if (ShouldFailOnFd(Sys::Syncfs, fd) || g_table.syncfs(fd) != 0) {
        return -1;
    }
    power_cut::NoteFileSystemFlushed(fd);
    return 0;
}

bool WriteAll(int fd, const void* buffer, size_t size) {
    return WriteAllThrough(Write, fd, buffer, size);
}

bool WriteAllPastFaults(int fd, const void* buffer, size_t size) {
    return WriteAllThrough(WritePastFaults, fd, buffer, size);
}

}  // namespace sys
}  // namespace qx
