// Entry-name rules of the archive reader. An archive comes from the network, so a name is only
// used when it cannot lead a write outside the destination folder or onto a device, on Windows or
// on Linux (both builds refuse the same names). Names are checked as wide text, after decoding,
// so a byte of a double-byte character that looks like "\" is never taken for a separator.
#include "repair/archive/entry_name.h"

#include <vector>

#include "platform/win32.h"

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'/' || c == L'\\';
}

wchar_t AsciiUpper(wchar_t c) {
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// "..", and also "..." or ".. " which Windows path parsing trims back to "..".
bool IsParentSegment(const std::wstring& segment) {
    int dots = 0;
    for (const wchar_t c : segment) {
        if (c == L'.') {
            ++dots;
        } else if (c != L' ') {
            return false;
        }
    }
    return dots >= 2;
}

// Windows opens these as devices whatever follows the first dot and with trailing blanks:
// "nul.txt", "COM1 ", "aux.tar.gz". COM and LPT ports are numbered with a digit or with a
// superscript one to three.
bool IsDeviceSegment(const std::wstring& segment) {
    std::wstring base = segment.substr(0, segment.find(L'.'));
    while (!base.empty() && base.back() == L' ') {
        base.pop_back();
    }
    for (wchar_t& c : base) {
        c = AsciiUpper(c);
    }
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
        if (base == device) {
            return true;
        }
    }
    if (base.size() != 4 || (base.compare(0, 3, L"COM") != 0 && base.compare(0, 3, L"LPT") != 0)) {
        return false;
    }
    const wchar_t number = base[3];
    return (number >= L'0' && number <= L'9') || number == L'\u00B9' || number == L'\u00B2' ||
           number == L'\u00B3';
}

}  // namespace

bool DecodeEntryName(const std::string& stored, bool utf8, std::wstring& name) {
    name.clear();
    if (stored.empty()) {
        return true;  // refused later as a name, not as text
    }
    const UINT codePage = utf8 ? CP_UTF8 : CP_ACP;
    const int length = static_cast<int>(stored.size());
    const int needed =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, stored.data(), length, nullptr, 0);
    if (needed <= 0) {
        return false;
    }
    std::vector<wchar_t> buffer(static_cast<std::size_t>(needed));
    if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, stored.data(), length, buffer.data(),
                            needed) != needed) {
        return false;
    }
    name.assign(buffer.data(), buffer.size());
    return true;
}

bool IsDirectoryEntryName(const std::wstring& name) {
    return !name.empty() && IsSeparator(name.back());
}

bool IsSafeEntryName(const std::wstring& name) {
    if (name.empty() || name.find(L'\0') != std::wstring::npos ||
        name.find(L':') != std::wstring::npos) {
        return false;
    }
    // Every segment up to the last separator, and the last segment unless the name ends in one.
    std::size_t start = 0;
    while (start < name.size()) {
        std::size_t end = start;
        while (end < name.size() && !IsSeparator(name[end])) {
            ++end;
        }
        const std::wstring segment = name.substr(start, end - start);
        // An empty segment is a rooted name ("/x") or a doubled separator ("a//b").
        if (segment.empty() || IsParentSegment(segment) || IsDeviceSegment(segment)) {
            return false;
        }
        start = end + 1;
    }
    return true;
}
