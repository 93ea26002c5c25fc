// Helpers of the layer's tests: an environment variable set for one test, and a child process
// that holds a lock or a mutex, so "in use" and "already exists" are seen from another process.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace qxtest {

// Host path -> narrow "Z:\\..." form, as the program hands to fopen and minizip.
inline std::string NarrowWinPath(const std::string& hostPath) {
    std::string path = "Z:" + hostPath;
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        const char* old = std::getenv(name);
        hadOld_ = old != nullptr;
        if (hadOld_)
            old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (hadOld_) {
            ::setenv(name_, old_.c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    bool hadOld_ = false;
    std::string old_;
};

// A forked child that runs `hold` (async-signal-safe work only) and then waits to be killed;
// the constructor returns once the child reported on a pipe that `hold` is done.
class ChildHolding {
  public:
    template <typename Hold>
    explicit ChildHolding(Hold hold) {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(pipeFds[0]);
            char result = hold() ? 'y' : 'n';
            (void)!::write(pipeFds[1], &result, 1);
            for (;;)
                ::pause();
        }
        ::close(pipeFds[1]);
        char result = 'n';
        ok_ = ::read(pipeFds[0], &result, 1) == 1 && result == 'y';
        ::close(pipeFds[0]);
    }
    ~ChildHolding() { Kill(); }
    ChildHolding(const ChildHolding&) = delete;
    ChildHolding& operator=(const ChildHolding&) = delete;

    bool ok() const { return ok_; }
    void Kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

  private:
    pid_t pid_ = -1;
    bool ok_ = false;
};

// A child holding flock(LOCK_EX) on a host file: the file is in use.
inline bool LockInChild(const char* hostPath) {
    int fd = ::open(hostPath, O_RDONLY);
    return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

}  // namespace qxtest
