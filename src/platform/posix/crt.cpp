// The Microsoft C runtime names the program uses: _wfopen/fopen on Windows-form paths (a stdio
// stream over the layer's system-call table, so faults reach fwrite), text mode with CRLF line
// ends, _wmkdir/_mkdir, _wtoi, _time64 and _localtime64.
#include <fcntl.h>
#include <sys/stat.h>

#include <climits>
#include <cwctype>
#include <memory>
#include <string>
#include <vector>

#include "files.h"
#include "host_path.h"
#include "syscalls.h"

namespace qx {
namespace {

// Big enough that downloads and extraction write in large blocks.
constexpr size_t kStreamBuffer = 256 * 1024;

struct OpenMode {
    int flags = 0;
    bool writes = false;
    bool text = true;  // the Microsoft runtime's default
    const char* stdioMode = "r";
};

// Parses "r", "w", "a" with "+", "b", "t" (any order, e.g. "ab+", "r+b") and the Microsoft
// letters that change nothing here; false for anything else.
bool ParseMode(const std::string& mode, OpenMode* parsed) {
    if (mode.empty()) {
        return false;
    }
    bool plus = false;
    for (size_t i = 1; i < mode.size() && mode[i] != ','; ++i) {
        switch (mode[i]) {
            case '+':
                plus = true;
                break;
            case 'b':
                parsed->text = false;
                break;
            case 't':
                parsed->text = true;
                break;
            case 'c':
            case 'n':
            case 'N':
            case 'S':
            case 'R':
            case 'T':
            case 'D':
                break;
            case 'x':
                parsed->flags |= O_EXCL;
                break;
            case ' ':
                break;
            default:
                return false;
        }
    }
    switch (mode[0]) {
        case 'r':
            parsed->flags |= plus ? O_RDWR : O_RDONLY;
            parsed->stdioMode = plus ? "r+" : "r";
            break;
        case 'w':
            parsed->flags |= (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
            parsed->stdioMode = plus ? "w+" : "w";
            break;
        case 'a':
            parsed->flags |= (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
            parsed->stdioMode = plus ? "a+" : "a";
            break;
        default:
            return false;
    }
    parsed->writes = plus || mode[0] != 'r';
    parsed->flags |= O_CLOEXEC;
    return true;
}

struct Stream {
    int fd;
    bool text;
    int pending = -1;  // text reads: a byte read ahead after a trailing '\r'
    std::unique_ptr<char[]> buffer{new char[kStreamBuffer]};
};

// Text mode reads "\r\n" as "\n".
ssize_t TextRead(Stream* stream, char* buffer, size_t size) {
    size_t got = 0;
    if (stream->pending >= 0) {
        buffer[got++] = static_cast<char>(stream->pending);
        stream->pending = -1;
    }
    ssize_t raw = sys::Read(stream->fd, buffer + got, size - got);
    if (raw < 0) {
        if (got == 0) {
            return -1;
        }
        raw = 0;
    }
    got += static_cast<size_t>(raw);
    size_t kept = 0;
    for (size_t i = 0; i < got; ++i) {
        if (buffer[i] == '\r') {
            if (i + 1 < got && buffer[i + 1] == '\n') {
                continue;
            }
            if (i + 1 == got) {
                char next = 0;
                if (sys::Read(stream->fd, &next, 1) == 1) {
                    if (next == '\n') {
                        buffer[kept++] = '\n';
                        continue;
                    }
                    stream->pending = static_cast<unsigned char>(next);
                }
            }
        }
        buffer[kept++] = buffer[i];
    }
    return static_cast<ssize_t>(kept);
}

ssize_t StreamRead(void* cookie, char* buffer, size_t size) {
    auto* stream = static_cast<Stream*>(cookie);
    if (size == 0) {
        return 0;
    }
    return stream->text ? TextRead(stream, buffer, size) : sys::Read(stream->fd, buffer, size);
}

// Text mode writes "\n" as "\r\n" on disk.
ssize_t StreamWrite(void* cookie, const char* buffer, size_t size) {
    auto* stream = static_cast<Stream*>(cookie);
    // fopencookie wants 0, never a negative value, for a failed write: glibc's stdio copies past
    // its buffer when a write function returns -1 (a full disk crashed fwrite).
    if (!stream->text) {
        return sys::WriteAll(stream->fd, buffer, size) ? static_cast<ssize_t>(size) : 0;
    }
    std::string translated;
    translated.reserve(size + size / 16);
    for (size_t i = 0; i < size; ++i) {
        if (buffer[i] == '\n') {
            translated += '\r';
        }
        translated += buffer[i];
    }
    return sys::WriteAll(stream->fd, translated.data(), translated.size())
               ? static_cast<ssize_t>(size)
               : 0;
}

int StreamSeek(void* cookie, off64_t* offset, int whence) {
    auto* stream = static_cast<Stream*>(cookie);
    off64_t wanted = *offset;
    if (stream->pending >= 0) {
        if (whence == SEEK_CUR) {
            --wanted;  // the byte read ahead was not delivered yet
        }
        stream->pending = -1;
    }
    off_t position = sys::Lseek(stream->fd, wanted, whence);
    if (position < 0) {
        return -1;
    }
    *offset = position;
    return 0;
}

int StreamClose(void* cookie) {
    auto* stream = static_cast<Stream*>(cookie);
    int result = sys::Close(stream->fd);
    delete stream;  // stdio has flushed and no longer uses the buffer
    return result == 0 ? 0 : EOF;
}

// Opens a host path the way the Microsoft runtime would; null with errno on failure.
FILE* OpenStream(const std::string& host, const char* modeText) {
    OpenMode mode;
    if (modeText == nullptr || !ParseMode(modeText, &mode)) {
        errno = EINVAL;
        return nullptr;
    }
    struct stat info {};
    if (sys::Stat(host.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode) || (mode.writes && IsReadOnly(info))) {
            errno = EACCES;
            return nullptr;
        }
    }
    UniqueFd fd(sys::Open(host.c_str(), mode.flags, 0666));
    if (!fd.Valid()) {
        return nullptr;
    }
    auto* stream = new Stream{fd.Get(), mode.text};
    FILE* file =
        fopencookie(stream, mode.stdioMode,
                    cookie_io_functions_t{StreamRead, StreamWrite, StreamSeek, StreamClose});
    if (file == nullptr) {
        delete stream;
        return nullptr;
    }
    fd.Release();
    std::setvbuf(file, stream->buffer.get(), _IOFBF, kStreamBuffer);
    return file;
}

int MakeDirectory(const char* path) {
    std::string host;
    if (path == nullptr || !ToHostPath(path, &host)) {
        errno = ENOENT;
        return -1;
    }
    return sys::Mkdir(host.c_str(), 0777) == 0 ? 0 : -1;
}

}  // namespace
}  // namespace qx

FILE* QxFopen(const char* filename, const char* mode) {
    std::string host;
    if (filename == nullptr || !qx::ToHostPath(filename, &host)) {
        errno = filename == nullptr ? EINVAL : ENOENT;
        return nullptr;
    }
    return qx::OpenStream(host, mode);
}

FILE* _wfopen(const wchar_t* filename, const wchar_t* mode) {
    std::string host;
    if (filename == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    if (!qx::ToHostPath(std::wstring(filename), &host)) {
        errno = ENOENT;
        return nullptr;
    }
    std::string narrowMode;
    for (const wchar_t* c = mode; *c != L'\0'; ++c) {
        narrowMode += *c < 0x80 ? static_cast<char>(*c) : '?';
    }
    return qx::OpenStream(host, narrowMode.c_str());
}

int _mkdir(const char* dirname) {
    return qx::MakeDirectory(dirname);
}

int _wmkdir(const wchar_t* dirname) {
    std::string host;
    if (dirname == nullptr || !qx::ToHostPath(std::wstring(dirname), &host)) {
        errno = ENOENT;
        return -1;
    }
    return qx::sys::Mkdir(host.c_str(), 0777) == 0 ? 0 : -1;
}

int _wtoi(const wchar_t* str) {
    if (str == nullptr) {
        errno = EINVAL;
        return 0;
    }
    const wchar_t* c = str;
    while (*c == L' ' || (*c >= L'\t' && *c <= L'\r')) {
        ++c;
    }
    bool negative = false;
    if (*c == L'+' || *c == L'-') {
        negative = *c++ == L'-';
    }
    long long value = 0;
    bool overflow = false;
    for (; *c >= L'0' && *c <= L'9'; ++c) {
        if (!overflow) {
            value = value * 10 + (*c - L'0');
        }
        if (value > static_cast<long long>(INT_MAX) + 1) {
            overflow = true;
        }
    }
    if (negative) {
        value = -value;
    }
    // Out of range saturates, as _wtol does where long has 32 bits.
    if (overflow || value > INT_MAX || value < INT_MIN) {
        errno = ERANGE;
        return negative ? INT_MIN : INT_MAX;
    }
    return static_cast<int>(value);
}

__time64_t _time64(__time64_t* timer) {
    __time64_t now = static_cast<__time64_t>(std::time(nullptr));
    if (timer != nullptr) {
        *timer = now;
    }
    return now;
}

struct tm* _localtime64(const __time64_t* timer) {
    // One result per thread, so the worker and the dialog thread never share it.
    thread_local struct tm result;
    // The Microsoft runtime accepts times from 1970 to the end of year 3000.
    constexpr __time64_t kLatest = 32535215999LL;
    if (timer == nullptr || *timer < 0 || *timer > kLatest) {
        errno = EINVAL;
        return nullptr;
    }
    time_t value = static_cast<time_t>(*timer);
    return localtime_r(&value, &result);
}
