// Reading version texts as three signed numbers and comparing them. Versions arrive from the
// network and from a local file, so the reading never misbehaves on any text.
#include "patchlist/version.h"

#include <climits>
#include <cstdint>

namespace {

struct Version {
    int major = 0;
    int minor = 0;
    int patch = 0;
};

// The blanks that a "%d" conversion skips before its number (the C locale's white space).
bool IsScanBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

// Reads one number the way "%d" does: blanks, an optional sign, one or more decimal digits.
// Unlike scanf, a number outside the int range is refused instead of being undefined.
bool ReadNumber(const wchar_t*& p, int& value) {
    while (IsScanBlank(*p)) {
        ++p;
    }
    const bool negative = *p == L'-';
    if (*p == L'-' || *p == L'+') {
        ++p;
    }
    if (!IsDigit(*p)) {
        return false;
    }
    const int64_t limit = negative ? -static_cast<int64_t>(INT_MIN) : INT_MAX;
    int64_t magnitude = 0;
    bool overflow = false;
    for (; IsDigit(*p); ++p) {
        magnitude = magnitude * 10 + (*p - L'0');
        if (magnitude > limit) {
            overflow = true;
            magnitude = limit;  // keeps consuming digits without growing
        }
    }
    if (overflow) {
        return false;
    }
    value = static_cast<int>(negative ? -magnitude : magnitude);
    return true;
}

// Reads "%d.%d.%d" from the start of the text; anything after the third number is ignored.
bool ReadVersion(const std::wstring& text, Version& version) {
    const wchar_t* p = text.c_str();
    if (!ReadNumber(p, version.major) || *p++ != L'.') {
        return false;
    }
    if (!ReadNumber(p, version.minor) || *p++ != L'.') {
        return false;
    }
    return ReadNumber(p, version.patch);
}

int CompareNumbers(int a, int b) {
    if (a > b) {
        return 1;
    }
    return a < b ? -1 : 0;
}

}  // namespace

int CompareVersions(const std::wstring& a, const std::wstring& b) {
    Version left;
    Version right;
    if (!ReadVersion(a, left) || !ReadVersion(b, right)) {
        return 0;
    }
    if (const int major = CompareNumbers(left.major, right.major)) {
        return major;
    }
    if (const int minor = CompareNumbers(left.minor, right.minor)) {
        return minor;
    }
    return CompareNumbers(left.patch, right.patch);
}

bool IsNextMinorVersion(const std::wstring& a, const std::wstring& b) {
    Version current;
    Version next;
    if (!ReadVersion(a, current) || !ReadVersion(b, next)) {
        return false;
    }
    // Widened so that a minor number of INT_MAX has no successor instead of overflowing.
    return static_cast<int64_t>(next.minor) == static_cast<int64_t>(current.minor) + 1;
}
