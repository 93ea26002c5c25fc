// The kernel object behind a file handle of CreateFileW: its open descriptor, shared by the
// layer's calls that open files and those that read, write or move through them.
#pragma once

#include "handles.h"
#include "syscalls.h"

namespace qx {

// An open file; a share mode narrower than "everything" holds a flock for the handle's life.
class FileHandle : public HandleObject {
  public:
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle() override { sys::Close(fd_); }

    int Descriptor() const { return fd_; }

  private:
    int fd_;
};

}  // namespace qx
