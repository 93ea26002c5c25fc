// Named mutexes as lock files in the runtime folder ($XDG_RUNTIME_DIR, else /tmp): the first
// holder keeps an flock on its open file, so the lock dies with its process however that ends.
#include <fcntl.h>
#include <sys/file.h>

#include <string>

#include "codepage.h"
#include "errors.h"
#include "handles.h"
#include "syscalls.h"

namespace qx {
namespace {

class MutexHandle : public HandleObject {
  public:
    explicit MutexHandle(int fd) : fd_(fd) {}
    ~MutexHandle() override {
        if (fd_ >= 0) {
            sys::Close(fd_);
        }
    }

  private:
    int fd_;  // -1 for an unnamed mutex
};

std::string RuntimeFolder() {
    const char* folder = std::getenv("XDG_RUNTIME_DIR");
    return folder != nullptr && *folder != '\0' ? folder : "/tmp";
}

// One file per name; separators (as in "Local\Name") would leave the folder, so they become '_'.
std::string LockFileFor(const std::wstring& name) {
    std::string file = WideToUtf8(name);
    for (char& c : file) {
        if (c == '/' || c == '\\') {
            c = '_';
        }
    }
    return RuntimeFolder() + "/qxweb-mutex-" + file + ".lock";
}

}  // namespace
}  // namespace qx

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL, LPCWSTR lpName) {
    if (lpName == nullptr || *lpName == L'\0') {
        SetLastError(ERROR_SUCCESS);
        return qx::AddHandle(std::make_shared<qx::MutexHandle>(-1));
    }
    std::string path = qx::LockFileFor(lpName);
    // O_CLOEXEC: a child the program starts must not keep the lock alive after we end.
    int fd = qx::sys::Open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        qx::SetLastErrorFromErrno(errno, path);
        return nullptr;
    }
    if (qx::sys::Flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno;
        if (err != EWOULDBLOCK) {
            qx::sys::Close(fd);
            qx::SetLastErrorFromErrno(err, path);
            return nullptr;
        }
        // Someone holds it: like Windows, the caller still gets a handle and learns from the
        // last error that the mutex already existed.
        HANDLE handle = qx::AddHandle(std::make_shared<qx::MutexHandle>(fd));
        SetLastError(ERROR_ALREADY_EXISTS);
        return handle;
    }
    HANDLE handle = qx::AddHandle(std::make_shared<qx::MutexHandle>(fd));
    SetLastError(ERROR_SUCCESS);
    return handle;
}
