// Conversion between wide text and the system code page, the splitting and trimming that the
// patch-list parser uses, and the cutting and bounded formatting of names and paths.
#pragma once

#include <cstddef>
#include <cwchar>
#include <string>
#include <vector>

std::string& WideToAnsi(const std::wstring& in, std::string& out);
std::wstring& AnsiToWide(const std::string& in, std::wstring& out);

// Appends the non-empty pieces of text between separators; an empty text yields one empty piece.
std::vector<std::wstring>& SplitString(const std::wstring& text, const std::wstring& separator,
                                       std::vector<std::wstring>& out);

// Remove blanks and carriage returns from the start / the end; always true.
bool TrimLeft(std::wstring& s);
bool TrimRight(std::wstring& s);

// The text before the last separator / after it; the whole text when it has no separator.
std::wstring BeforeLast(const std::wstring& text, wchar_t separator);
std::wstring AfterLast(const std::wstring& text, wchar_t separator);

// Case folding of the letters A to Z only: what file names of the tool's own, HTTP header names
// and hex digits need, and never a locale's idea of other letters.
std::string ToLowerAscii(std::string text);
std::wstring ToLowerAscii(std::wstring text);
bool EqualsIgnoringAsciiCase(const std::wstring& a, const std::wstring& b);
bool StartsWithIgnoringAsciiCase(const std::string& text, const std::string& prefix);

// Formats into a buffer of the given size; false when the text would not fit. glibc reports a
// cut text as -1, MinGW as the length it would have had: both count as "does not fit".
template <typename... Args>
bool FormatBounded(wchar_t* buffer, size_t size, const wchar_t* format, Args... args) {
    const int written = std::swprintf(buffer, size, format, args...);
    return written >= 0 && static_cast<size_t>(written) < size;
}
