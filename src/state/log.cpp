// The diagnostic log "C:\QxWebHelper.txt": created (truncated) on the first entry of a run, so a
// run that never logs leaves an earlier log alone; each entry is one line behind the time of day.
// The opening, each entry and the closing at exit hold one lock, so the worker thread and the main
// thread never open it twice or mix their lines.
#include "state/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <string>
#include <vector>

#include "fsutil/file_failure.h"
#include "fsutil/text.h"
#include "platform/win32.h"

Log* g_log = nullptr;

namespace {

const wchar_t kLogPath[] = L"C:\\QxWebHelper.txt";
const char kBannerLine[] = "================================\n";

// The message formatted into wide text. vswprintf only reports "too small" (and the same -1 for
// an unencodable argument), so the buffer grows up to a bound and a message that never fits is
// left empty rather than looping forever. MinGW's vswprintf reports a cut message with the
// length it would have had instead of -1, so a length that does not fit counts as too small too.
std::wstring FormatWide(const wchar_t* format, va_list args) {
    std::vector<wchar_t> buffer(256);
    while (buffer.size() <= (1u << 20)) {
        va_list copy;
        va_copy(copy, args);
        // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): copy is set by va_copy above
        int written = vswprintf(buffer.data(), buffer.size(), format, copy);
        va_end(copy);
        if (written >= 0 && static_cast<size_t>(written) < buffer.size()) {
            return std::wstring(buffer.data(), static_cast<size_t>(written));
        }
        buffer.resize(buffer.size() * 4);
    }
    return std::wstring();
}

std::string TimePrefix() {
    __time64_t now = _time64(nullptr);
    const struct tm* local = _localtime64(&now);
    char prefix[32];
    std::snprintf(prefix, sizeof(prefix), "[%02d:%02d.%02d] ", local ? local->tm_hour : 0,
                  local ? local->tm_min : 0, local ? local->tm_sec : 0);
    return prefix;
}

// A lock of the standard library's atomics: the Windows build's thread model has no std::mutex.
// Entries are short and rare, so a waiter simply gives up its time slice.
std::atomic_flag g_logBusy = ATOMIC_FLAG_INIT;

class LogLock {
  public:
    LogLock() {
        while (g_logBusy.test_and_set(std::memory_order_acquire)) {
            Sleep(0);
        }
    }
    ~LogLock() { g_logBusy.clear(std::memory_order_release); }
    LogLock(const LogLock&) = delete;
    LogLock& operator=(const LogLock&) = delete;
};

// Builds the log on the first entry of the process; called under the lock.
void OpenOnFirstUse() {
    if (!g_log) {
        LogOpen();
        atexit(LogClose);
    }
}

// The text in the ANSI code page, or nothing when it has no exact form there (Windows' best-fit
// look-alikes and its default character both fail the way back).
bool HeldByAnsiCodePage(const wchar_t* text, int length, std::string& bytes) {
    char buffer[16];
    const int size =
        WideCharToMultiByte(CP_ACP, 0, text, length, buffer, sizeof buffer, nullptr, nullptr);
    wchar_t back[4];
    if (size <= 0 || MultiByteToWideChar(CP_ACP, 0, buffer, size, back, 4) != length ||
        std::wmemcmp(back, text, static_cast<size_t>(length)) != 0) {
        return false;
    }
    bytes.assign(buffer, static_cast<size_t>(size));
    return true;
}

// The message in the log's encoding, the ANSI code page: a character it cannot hold is written
// as "<U+D55C>" (its code point in hex), never dropped or turned into "?". No path holds "<".
std::string InLogEncoding(const std::wstring& message) {
    std::string line;
    std::wstring back;
    if (AnsiToWide(WideToAnsi(message, line), back) == message) {
        return line;  // the common case: every character is held
    }
    line.clear();
    for (size_t i = 0; i < message.size();) {
        // A UTF-16 surrogate pair (Windows) is one character.
        const bool pair = sizeof(wchar_t) == 2 && i + 1 < message.size() && message[i] >= 0xD800 &&
                          message[i] <= 0xDBFF && message[i + 1] >= 0xDC00 &&
                          message[i + 1] <= 0xDFFF;
        const int units = pair ? 2 : 1;
        std::string bytes;
        if (HeldByAnsiCodePage(&message[i], units, bytes)) {
            line += bytes;
        } else {
            const uint32_t codePoint =
                pair ? 0x10000 + ((static_cast<uint32_t>(message[i]) - 0xD800) << 10) +
                           (static_cast<uint32_t>(message[i + 1]) - 0xDC00)
                     : static_cast<uint32_t>(message[i]);
            char escaped[16];
            std::snprintf(escaped, sizeof escaped, "<U+%04X>", static_cast<unsigned>(codePoint));
            line += escaped;
        }
        i += static_cast<size_t>(units);
    }
    return line;
}

}  // namespace

void LogOpen() {
    // Built once and kept for the whole run; LogClose only closes the stream.
    static Log log;
    log.file.reset(_wfopen(kLogPath, L"w"));
    if (log.file) {
        for (int i = 0; i < 4; ++i) {
            fputs(kBannerLine, log.file.get());
        }
    }
    g_log = &log;
}

void LogClose() {
    LogLock lock;
    if (g_log) {
        g_log->file.reset();
    }
}

// The message is formatted wide and written narrow (ANSI code page): one stream never mixes
// narrow and wide output, which the C runtimes do not all allow. The line goes out in one write.
int LogWrite(Log* log, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const std::wstring message = FormatWide(format, args);
    va_end(args);
    std::string line = InLogEncoding(message);

    LogLock lock;
    OpenOnFirstUse();
    if (!log) {
        log = g_log;
    }
    if (!log->file) {
        return -1;
    }
    line = TimePrefix() + line + "\n";
    FILE* file = log->file.get();
    fwrite(line.data(), 1, line.size(), file);
    fflush(file);
    return 0;
}

void LogFailure(const wchar_t* step, const FileFailure& failure) {
    LogWrite(g_log, L"%ls failed: %ls", step, DescribeFailure(failure).c_str());
}
