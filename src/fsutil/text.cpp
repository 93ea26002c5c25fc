// Conversion between wide text and the system ANSI code page, and the splitting, trimming and
// cutting of wide text. The patch-list parser and every narrow interface (URLs, file contents)
// rely on these.
#include "fsutil/text.h"

#include <vector>

#include "platform/win32.h"

std::string& WideToAnsi(const std::wstring& in, std::string& out) {
    if (in.empty()) {
        return out;
    }
    int needed = WideCharToMultiByte(CP_ACP, 0, in.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (needed < 0) {
        needed = 0;
    }
    // One byte more than asked for, zero-filled, so the text is always terminated.
    std::vector<char> buffer(static_cast<size_t>(needed) + 1, '\0');
    if (needed > 0) {
        WideCharToMultiByte(CP_ACP, 0, in.c_str(), -1, buffer.data(), needed, nullptr, nullptr);
    }
    out.assign(buffer.data());
    return out;
}

std::wstring& AnsiToWide(const std::string& in, std::wstring& out) {
    if (in.empty()) {
        return out;
    }
    int needed = MultiByteToWideChar(CP_ACP, 0, in.c_str(), -1, nullptr, 0);
    if (needed < 0) {
        needed = 0;
    }
    std::vector<wchar_t> buffer(static_cast<size_t>(needed) + 1, L'\0');
    if (needed > 0) {
        MultiByteToWideChar(CP_ACP, 0, in.c_str(), -1, buffer.data(), needed);
    }
    out.assign(buffer.data());
    return out;
}

std::vector<std::wstring>& SplitString(const std::wstring& text, const std::wstring& separator,
                                       std::vector<std::wstring>& out) {
    // The search resumes after the whole separator, so a longer separator never leaves a part
    // of itself in the next piece; an empty separator still advances one character at a time.
    const size_t step = separator.empty() ? 1 : separator.size();
    size_t start = 0;
    do {
        const size_t found = text.find(separator, start);
        if (found != start) {
            out.push_back(text.substr(
                start, found == std::wstring::npos ? std::wstring::npos : found - start));
        }
        if (found == std::wstring::npos) {
            break;
        }
        start = found + step;
    } while (start < text.size());
    return out;
}

static bool IsTrimmed(wchar_t c) {
    return c == L' ' || c == L'\r';
}

bool TrimLeft(std::wstring& s) {
    size_t first = 0;
    while (first < s.size() && IsTrimmed(s[first])) {
        ++first;
    }
    s.erase(0, first);
    return true;
}

bool TrimRight(std::wstring& s) {
    size_t end = s.size();
    while (end > 0 && IsTrimmed(s[end - 1])) {
        --end;
    }
    s.erase(end);
    return true;
}

std::wstring BeforeLast(const std::wstring& text, wchar_t separator) {
    const size_t pos = text.rfind(separator);
    return pos == std::wstring::npos ? text : text.substr(0, pos);
}

std::wstring AfterLast(const std::wstring& text, wchar_t separator) {
    const size_t pos = text.rfind(separator);
    return pos == std::wstring::npos ? text : text.substr(pos + 1);
}

namespace {

template <typename Char>
Char LowerAscii(Char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string ToLowerAscii(std::string text) {
    for (char& c : text) {
        c = LowerAscii(c);
    }
    return text;
}

std::wstring ToLowerAscii(std::wstring text) {
    for (wchar_t& c : text) {
        c = LowerAscii(c);
    }
    return text;
}

bool EqualsIgnoringAsciiCase(const std::wstring& a, const std::wstring& b) {
    return ToLowerAscii(a) == ToLowerAscii(b);
}

bool StartsWithIgnoringAsciiCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() &&
           ToLowerAscii(text.substr(0, prefix.size())) == ToLowerAscii(prefix);
}
