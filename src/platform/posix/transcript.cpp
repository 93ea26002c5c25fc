// The transcript writer and the text helpers it needs (UTF-8 encoding and JSON escaping).
// The file is opened with O_APPEND and each event is one write(2), flushed at once, so a run that
// is killed still leaves every line it showed.
#include "transcript.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

namespace qx {
namespace ui {
namespace {

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        cp = 0xFFFD;
    }
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Length of the valid UTF-8 sequence at `s`, or 0 when it is invalid (overlong forms,
// surrogates and code points past U+10FFFF included).
size_t ValidSequenceLength(const unsigned char* s, size_t left) {
    if (s[0] < 0x80) {
        return 1;
    }
    size_t len = 0;
    uint32_t cp = 0;
    if ((s[0] & 0xE0) == 0xC0) {
        len = 2;
        cp = s[0] & 0x1F;
    } else if ((s[0] & 0xF0) == 0xE0) {
        len = 3;
        cp = s[0] & 0x0F;
    } else if ((s[0] & 0xF8) == 0xF0) {
        len = 4;
        cp = s[0] & 0x07;
    } else {
        return 0;
    }
    if (left < len) {
        return 0;
    }
    for (size_t i = 1; i < len; ++i) {
        if ((s[i] & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    static const uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMinimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return len;
}

// The open transcript file, reopened when the variable names another file or the file was
// replaced (a test that deletes its transcript and starts again gets a fresh file).
class TranscriptFile {
  public:
    void Append(const char* path, const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!IsCurrent(path)) {
            Reopen(path);
        }
        if (fd_ < 0) {
            return;
        }
        WriteAll(line);
    }

  private:
    bool IsCurrent(const char* path) const {
        struct stat st {};
        return fd_ >= 0 && path_ == path && ::stat(path, &st) == 0 && st.st_dev == dev_ &&
               st.st_ino == ino_;
    }

    void Reopen(const char* path) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        path_ = path;
        fd_ = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        struct stat st {};
        if (fd_ >= 0 && ::fstat(fd_, &st) == 0) {
            dev_ = st.st_dev;
            ino_ = st.st_ino;
        }
    }

    void WriteAll(const std::string& line) {
        size_t done = 0;
        while (done < line.size()) {
            ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return;
            }
            done += static_cast<size_t>(n);
        }
    }

    std::mutex mutex_;
    int fd_ = -1;
    std::string path_;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
};

TranscriptFile& Transcript() {
    static auto* file = new TranscriptFile();  // outlives static destructors of other threads
    return *file;
}

}  // namespace

std::string ToUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = static_cast<uint32_t>(text[i]);
        if (sizeof(wchar_t) == 2 && cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
            uint32_t low = static_cast<uint32_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        AppendUtf8(out, cp);
    }
    return out;
}

std::string ValidUtf8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t i = 0;
    while (i < bytes.size()) {
        size_t len = ValidSequenceLength(s + i, bytes.size() - i);
        if (len == 0) {
            AppendUtf8(out, 0xFFFD);
            ++i;
            continue;
        }
        out.append(bytes, i, len);
        i += len;
    }
    return out;
}

std::string JsonQuote(const std::string& utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    static const char kHex[] = "0123456789abcdef";
                    out += "\\u00";
                    out += kHex[c >> 4];
                    out += kHex[c & 0xF];
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
    return out;
}

void JsonLine::AddKey(const char* key) {
    if (!body_.empty()) {
        body_ += ',';
    }
    body_ += JsonQuote(key);
    body_ += ':';
}

JsonLine& JsonLine::AddString(const char* key, const std::string& utf8) {
    AddKey(key);
    body_ += JsonQuote(ValidUtf8(utf8));
    return *this;
}

JsonLine& JsonLine::AddText(const char* key, const wchar_t* text) {
    return AddText(key, std::wstring(text ? text : L""));
}

JsonLine& JsonLine::AddText(const char* key, const std::wstring& text) {
    AddKey(key);
    body_ += JsonQuote(ToUtf8(text));
    return *this;
}

JsonLine& JsonLine::AddNumber(const char* key, long long value) {
    AddKey(key);
    body_ += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::AddBool(const char* key, bool value) {
    AddKey(key);
    body_ += value ? "true" : "false";
    return *this;
}

void RecordEvent(const JsonLine& event) {
    const char* path = std::getenv("QXWEB_TRANSCRIPT");
    if (path == nullptr || *path == '\0') {
        return;
    }
    Transcript().Append(path, event.Text() + "\n");
}

}  // namespace ui
}  // namespace qx
