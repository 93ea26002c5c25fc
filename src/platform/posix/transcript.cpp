// The transcript writer and the text helpers it needs (UTF-8 text and JSON escaping).
// The file is opened with O_APPEND and each event is written at once, so a run that is killed
// still leaves every line it showed. It is reached past the fault table: a run made to fail at
// its Nth file write must fail there whatever it recorded before.
#include "transcript.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "codepage.h"
#include "syscalls.h"

#include <mutex>

namespace qx {
namespace ui {
namespace {

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
        sys::WriteAllPastFaults(fd_, line.data(), line.size());
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
    return WideToUtf8(text);
}

std::string ValidUtf8(const std::string& bytes) {
    return WideToUtf8(Utf8ToWide(bytes));
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
