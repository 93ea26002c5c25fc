// The kernel object behind a HANDLE from CreateFileW: a descriptor of a file, of a folder (opened
// with FILE_FLAG_BACKUP_SEMANTICS) or of a volume ("\\.\C:"), with the access it was opened for,
// which decides what ReadFile, WriteFile and FlushFileBuffers may do with it.
#pragma once

#include "handles.h"
#include "syscalls.h"

namespace qx {

class FileHandle : public HandleObject {
  public:
    enum class Kind { File, Folder, Volume };

    FileHandle(int fd, Kind kind, DWORD access) : fd_(fd), kind_(kind), access_(access) {}
    ~FileHandle() override { sys::Close(fd_); }

    int fd() const { return fd_; }
    Kind kind() const { return kind_; }
    bool MayRead() const { return (access_ & GENERIC_READ) != 0; }
    bool MayWrite() const { return (access_ & GENERIC_WRITE) != 0; }

  private:
    int fd_;
    Kind kind_;
    DWORD access_;
};

}  // namespace qx
