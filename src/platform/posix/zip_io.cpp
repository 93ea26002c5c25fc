// minizip's file access over the layer: QxUnzOpen2_64 opens a Windows-form narrow path with
// callbacks that translate the path and read through the system-call table, with a read buffer
// (minizip reads its headers a few bytes at a time). Offsets are 64-bit throughout (zip64).
#include "zip_io.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "host_path.h"
#include "syscalls.h"

namespace qx {
namespace {

constexpr size_t kZipBuffer = 256 * 1024;

struct ZipStream {
    int fd;
    int error = 0;             // errno of the last failure, for the error callback
    uint64_t bufferStart = 0;  // file offset of buffer[0]
    size_t bufferLength = 0;   // valid bytes in buffer
    size_t bufferPos = 0;      // read position within buffer
    uint64_t fdPos = 0;        // where the descriptor stands
    std::vector<char> buffer = std::vector<char>(kZipBuffer);

    uint64_t Position() const { return bufferStart + bufferPos; }

    // Moves the descriptor to `offset` if it stands elsewhere.
    bool SeekFd(uint64_t offset) {
        if (fdPos == offset) {
            return true;
        }
        if (sys::Lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
            return Fail();
        }
        fdPos = offset;
        return true;
    }

    bool Fail() {
        error = errno != 0 ? errno : EIO;
        return false;
    }

    // Reads at the current position into the buffer; false on error, length 0 at the end.
    bool Refill() {
        uint64_t at = Position();
        bufferStart = at, bufferLength = 0, bufferPos = 0;
        if (!SeekFd(at)) {
            return false;
        }
        for (;;) {
            ssize_t got = sys::Read(fd, buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                return Fail();
            }
            bufferLength = static_cast<size_t>(got);
            fdPos += bufferLength;
            return true;
        }
    }

    size_t Read(char* out, size_t size) {
        size_t done = 0;
        while (done < size) {
            if (bufferPos == bufferLength && (!Refill() || bufferLength == 0)) {
                break;
            }
            size_t chunk = std::min(size - done, bufferLength - bufferPos);
            std::memcpy(out + done, buffer.data() + bufferPos, chunk);
            bufferPos += chunk;
            done += chunk;
        }
        return done;
    }

    size_t Write(const char* data, size_t size) {
        uint64_t at = Position();
        bufferStart = at, bufferLength = 0, bufferPos = 0;  // the buffer may be stale now
        if (!SeekFd(at) || !sys::WriteAll(fd, data, size)) {
            Fail();
            fdPos = UINT64_MAX;  // unknown after a partial write
            return 0;
        }
        fdPos += size;
        bufferStart = fdPos;
        return size;
    }

    bool Seek(uint64_t offset, int origin) {
        uint64_t target = offset;
        if (origin == ZLIB_FILEFUNC_SEEK_CUR) {
            target = Position() + offset;
        }
        if (origin == ZLIB_FILEFUNC_SEEK_END) {
            struct stat info {};
            if (sys::Fstat(fd, &info) != 0) {
                return Fail();
            }
            target = static_cast<uint64_t>(info.st_size) + offset;
        }
        if (target >= bufferStart && target <= bufferStart + bufferLength) {
            bufferPos = static_cast<size_t>(target - bufferStart);
        } else {
            bufferStart = target, bufferLength = 0, bufferPos = 0;
        }
        return true;
    }
};

voidpf ZCALLBACK OpenFile(voidpf, const void* filename, int mode) {
    std::string host;
    if (filename == nullptr || !ToHostPath(static_cast<const char*>(filename), &host)) {
        return nullptr;
    }
    int flags = O_CLOEXEC;
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) == ZLIB_FILEFUNC_MODE_READ) {
        flags |= O_RDONLY;
    } else if (mode & ZLIB_FILEFUNC_MODE_EXISTING) {
        flags |= O_RDWR;
    } else {
        flags |= O_RDWR | O_CREAT | O_TRUNC;
    }
    UniqueFd fd(sys::Open(host.c_str(), flags, 0666));
    struct stat info {};
    if (!fd.Valid() || sys::Fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return nullptr;
    }
    return new ZipStream{fd.Release()};
}

uLong ZCALLBACK ReadFile(voidpf, voidpf stream, void* buffer, uLong size) {
    return static_cast<uLong>(
        static_cast<ZipStream*>(stream)->Read(static_cast<char*>(buffer), size));
}

uLong ZCALLBACK WriteFile(voidpf, voidpf stream, const void* buffer, uLong size) {
    return static_cast<uLong>(
        static_cast<ZipStream*>(stream)->Write(static_cast<const char*>(buffer), size));
}

ZPOS64_T ZCALLBACK TellFile(voidpf, voidpf stream) {
    return static_cast<ZipStream*>(stream)->Position();
}

long ZCALLBACK SeekFile(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    return static_cast<ZipStream*>(stream)->Seek(offset, origin) ? 0 : -1;
}

int ZCALLBACK CloseFile(voidpf, voidpf stream) {
    auto* zip = static_cast<ZipStream*>(stream);
    int result = sys::Close(zip->fd);
    delete zip;
    return result;
}

int ZCALLBACK TestError(voidpf, voidpf stream) {
    return static_cast<ZipStream*>(stream)->error;
}

}  // namespace
}  // namespace qx

unzFile QxUnzOpen2_64(const void* path, zlib_filefunc64_def* functions) {
    if (functions != nullptr) {
        return unzOpen2_64(path, functions);
    }
    zlib_filefunc64_def layer = {qx::OpenFile, qx::ReadFile,  qx::WriteFile, qx::TellFile,
                                 qx::SeekFile, qx::CloseFile, qx::TestError, nullptr};
    return unzOpen2_64(path, &layer);
}
