// QxPrintf, the program's printf: writes to standard output, flushes at once, and records each
// line it printed in the transcript.
#include <string>
#include <vector>

#include "transcript.h"

#undef printf

namespace {

std::string Format(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[512];
    int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0) {
        return "";
    }
    if (static_cast<size_t>(needed) < sizeof small) {
        return std::string(small, static_cast<size_t>(needed));
    }
    std::vector<char> large(static_cast<size_t>(needed) + 1);
    std::vsnprintf(large.data(), large.size(), format, args);
    return std::string(large.data(), static_cast<size_t>(needed));
}

// One event per line; text after the last newline of a call counts as a line of its own, so a
// line printed without its newline is still recorded.
void RecordLines(const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        qx::ui::RecordEvent(qx::ui::JsonLine()
                                .AddString("event", "stdout")
                                .AddString("text", text.substr(start, end - start)));
        start = end + 1;
    }
}

}  // namespace

int QxPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = Format(format, args);
    va_end(args);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    RecordLines(text);
    return static_cast<int>(text.size());
}
