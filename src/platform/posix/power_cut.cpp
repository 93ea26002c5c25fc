// The simulated power cut: the unflushed part of every file the process wrote, by inode, and the
// loss of it when the cut comes. Each file is kept as an O_PATH descriptor, so a file renamed
// since it was written is still found. Every change of file data holds the lock, so the cut lands
// between two changes, never inside one.
#include "power_cut.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace qx {
namespace power_cut {
namespace {

struct Unflushed {
    int pathFd;  // O_PATH descriptor of the file, or -1
    off_t from;  // the first byte not yet on the disk
};

using Inode = std::pair<dev_t, ino_t>;

std::atomic<bool> g_armed{false};

struct Files {
    std::mutex lock;
    std::map<Inode, Unflushed> unflushed;
};

Files& State() {
    static auto* files = new Files();  // used until the process dies
    return *files;
}

std::string FdLink(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

// The offset the next write through fd starts at: the end for a file opened to append.
off_t WriteOffset(int fd, const struct stat& info) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_APPEND) != 0) {
        return info.st_size;
    }
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    return at < 0 ? 0 : at;
}

void ForgetLocked(Files& files, std::map<Inode, Unflushed>::iterator it) {
    if (it->second.pathFd >= 0) {
        ::close(it->second.pathFd);
    }
    files.unflushed.erase(it);
}

void RememberLocked(Files& files, int fd, const struct stat& info, off_t from) {
    const Inode inode{info.st_dev, info.st_ino};
    auto it = files.unflushed.find(inode);
    if (it != files.unflushed.end()) {
        it->second.from = std::min(it->second.from, from);
        return;
    }
    files.unflushed.emplace(inode, Unflushed{::open(FdLink(fd).c_str(), O_PATH | O_CLOEXEC), from});
}

bool RegularFile(int fd, struct stat* info) {
    return ::fstat(fd, info) == 0 && S_ISREG(info->st_mode);
}

void Lose(const Unflushed& file, Loss loss, std::mt19937& random) {
    if (file.pathFd < 0) {
        return;
    }
    const int fd = ::open(FdLink(file.pathFd).c_str(), O_WRONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0) {
        return;
    }
    if (::fstat(fd, &info) == 0 && info.st_size > file.from) {
        if (loss == Loss::Truncate) {
            (void)!::ftruncate(fd, file.from);
        } else {
            std::vector<char> garbage(static_cast<size_t>(info.st_size - file.from));
            for (char& byte : garbage) {
                byte = static_cast<char>(random() & 0xff);
            }
            (void)!::pwrite(fd, garbage.data(), garbage.size(), file.from);
        }
    }
    ::close(fd);
}

}  // namespace

void Arm() {
    g_armed = true;
}

bool Armed() {
    return g_armed;
}

ChangeScope::ChangeScope(int fd) : ChangeScope(fd, std::nullopt) {}

ChangeScope::ChangeScope(int fd, off_t end) : ChangeScope(fd, std::optional<off_t>(end)) {}

ChangeScope::ChangeScope(int fd, std::optional<off_t> end) {
    struct stat info {};
    if (!g_armed || !RegularFile(fd, &info)) {
        return;
    }
    Files& files = State();
    files.lock.lock();
    held_ = true;
    RememberLocked(files, fd, info, end ? *end : WriteOffset(fd, info));
}

ChangeScope::~ChangeScope() {
    if (held_) {
        State().lock.unlock();
    }
}

void NoteFileFlushed(int fd) {
    struct stat info {};
    if (!g_armed || !RegularFile(fd, &info)) {
        return;
    }
    Files& files = State();
    std::lock_guard<std::mutex> guard(files.lock);
    auto it = files.unflushed.find(Inode{info.st_dev, info.st_ino});
    if (it != files.unflushed.end()) {
        ForgetLocked(files, it);
    }
}

void NoteFileSystemFlushed(int fd) {
    struct stat info {};
    if (!g_armed || ::fstat(fd, &info) != 0) {
        return;
    }
    Files& files = State();
    std::lock_guard<std::mutex> guard(files.lock);
    for (auto it = files.unflushed.begin(); it != files.unflushed.end();) {
        auto next = std::next(it);
        if (it->first.first == info.st_dev) {
            ForgetLocked(files, it);
        }
        it = next;
    }
}

void Cut(Loss loss) {
    Files& files = State();
    // Held until the end: a change of another thread waits for it and never lands after the cut.
    files.lock.lock();
    std::mt19937 random(20240607);
    for (const auto& item : files.unflushed) {
        Lose(item.second, loss, random);
    }
    std::raise(SIGKILL);
    std::_Exit(137);
}

}  // namespace power_cut
}  // namespace qx
