// minizip's file functions over a Win32 file handle, with a read buffer: minizip reads its headers
// a few bytes at a time, and each read would otherwise be a system call. Offsets are 64-bit
// (zip64). The archive is only read; minizip never asks to write it.
#include "repair/archive/archive_file.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr DWORD kReadBuffer = 256 * 1024;

class ArchiveStream {
  public:
    ArchiveStream(HANDLE handle, ArchiveFile& file) : handle_(handle), file_(file) {}

    uint64_t Position() const { return bufferStart_ + bufferPos_; }
    bool Failed() const { return file_.failure.Recorded(); }

    size_t Read(unsigned char* out, size_t size) {
        size_t done = 0;
        while (done < size) {
            if (bufferPos_ == bufferLength_ && (!Refill() || bufferLength_ == 0)) {
                break;
            }
            const size_t chunk = std::min(size - done, size_t{bufferLength_ - bufferPos_});
            std::memcpy(out + done, buffer_.data() + bufferPos_, chunk);
            bufferPos_ += static_cast<DWORD>(chunk);
            done += chunk;
        }
        return done;
    }

    bool Seek(uint64_t offset, int origin) {
        uint64_t target = offset;
        if (origin == ZLIB_FILEFUNC_SEEK_CUR) {
            target = Position() + offset;
        } else if (origin == ZLIB_FILEFUNC_SEEK_END) {
            uint64_t size = 0;
            if (!MoveHandle(0, FILE_END, &size)) {
                return false;
            }
            target = size + offset;
        }
        if (target >= bufferStart_ && target <= bufferStart_ + bufferLength_) {
            bufferPos_ = static_cast<DWORD>(target - bufferStart_);
        } else {
            bufferStart_ = target;
            bufferLength_ = 0;
            bufferPos_ = 0;
        }
        return true;
    }

    bool Close() { return handle_.close(); }

  private:
    // Moves the handle and learns where it stands; false (the failure kept) when it cannot.
    bool MoveHandle(int64_t distance, DWORD method, uint64_t* position) {
        LARGE_INTEGER move;
        move.QuadPart = distance;
        LARGE_INTEGER now;
        now.QuadPart = 0;
        if (!SetFilePointerEx(handle_.get(), move, &now, method)) {
            NoteFailure(&file_.failure, L"SetFilePointerEx", file_.path);
            handleKnown_ = false;
            return false;
        }
        *position = static_cast<uint64_t>(now.QuadPart);
        handleKnown_ = true;
        handlePos_ = *position;
        return true;
    }

    // Fills the buffer from the current position; false on a failed call, length 0 at the end.
    bool Refill() {
        const uint64_t at = Position();
        bufferStart_ = at;
        bufferLength_ = 0;
        bufferPos_ = 0;
        uint64_t position = 0;
        if ((!handleKnown_ || handlePos_ != at) &&
            !MoveHandle(static_cast<int64_t>(at), FILE_BEGIN, &position)) {
            return false;
        }
        DWORD got = 0;
        if (!ReadFile(handle_.get(), buffer_.data(), kReadBuffer, &got, nullptr)) {
            NoteFailure(&file_.failure, L"ReadFile", file_.path);
            handleKnown_ = false;
            return false;
        }
        bufferLength_ = got;
        handlePos_ = at + got;
        return true;
    }

    UniqueHandle handle_;
    ArchiveFile& file_;
    std::vector<unsigned char> buffer_ = std::vector<unsigned char>(kReadBuffer);
    uint64_t bufferStart_ = 0;  // file offset of buffer_[0]
    DWORD bufferLength_ = 0;    // valid bytes in buffer_
    DWORD bufferPos_ = 0;       // read position within buffer_
    bool handleKnown_ = true;   // a new handle stands at 0
    uint64_t handlePos_ = 0;
};

ArchiveStream* Stream(voidpf stream) {
    return static_cast<ArchiveStream*>(stream);
}

voidpf ZCALLBACK OpenFile(voidpf opaque, const void* /*path*/, int mode) {
    auto& file = *static_cast<ArchiveFile*>(opaque);
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) {
        SetLastError(ERROR_ACCESS_DENIED);
        NoteFailure(&file.failure, L"CreateFileW", file.path);
        return nullptr;
    }
    // Others may read the archive meanwhile (a virus scanner), never change it.
    HANDLE handle = CreateFileW(file.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        NoteFailure(&file.failure, L"CreateFileW", file.path);
        return nullptr;
    }
    return new ArchiveStream(handle, file);
}

uLong ZCALLBACK ReadStream(voidpf, voidpf stream, void* buffer, uLong size) {
    return static_cast<uLong>(Stream(stream)->Read(static_cast<unsigned char*>(buffer), size));
}

uLong ZCALLBACK WriteStream(voidpf, voidpf, const void*, uLong) {
    return 0;
}

ZPOS64_T ZCALLBACK TellStream(voidpf, voidpf stream) {
    return Stream(stream)->Position();
}

long ZCALLBACK SeekStream(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    return Stream(stream)->Seek(offset, origin) ? 0 : -1;
}

int ZCALLBACK CloseStream(voidpf, voidpf stream) {
    const bool closed = Stream(stream)->Close();
    delete Stream(stream);
    return closed ? 0 : -1;
}

int ZCALLBACK TestStreamError(voidpf, voidpf stream) {
    return Stream(stream)->Failed() ? 1 : 0;
}

}  // namespace

unzFile OpenArchive(ArchiveFile& file) {
    zlib_filefunc64_def functions = {OpenFile,   ReadStream,  WriteStream,     TellStream,
                                     SeekStream, CloseStream, TestStreamError, &file};
    // minizip hands the path to OpenFile untouched; OpenFile takes it from `file`.
    return unzOpen2_64(file.path.c_str(), &functions);
}
