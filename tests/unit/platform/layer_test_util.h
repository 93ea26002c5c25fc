// Helpers of the layer's tests: a child process that holds a lock or a mutex, so "in use" and
// "already exists" are seen from another process.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qxtest {

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
