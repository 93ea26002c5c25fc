// Entry-name rules of the archive reader. An archive comes from the network, so a name is only
// used when it cannot lead a write outside the destination folder or onto a device, on Windows or
// on Linux (both builds refuse the same names).
#include "repair/archive/entry_name.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "platform/win32.h"

namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

// "..", and also "..." or ".. " which Windows path parsing trims back to "..".
bool IsParentSegment(const std::string& segment) {
    int dots = 0;
    for (const char c : segment) {
        if (c == '.') {
            ++dots;
        } else if (c != ' ') {
            return false;
        }
    }
    return dots >= 2;
}

// Windows opens these as devices whatever follows the first dot and with trailing blanks:
// "nul.txt", "COM1 ", "aux.tar.gz". COM and LPT ports are numbered with a digit or with a
// superscript one to three (in UTF-8 and in Windows-1252).
bool IsDeviceSegment(const std::string& segment) {
    std::string base = segment.substr(0, segment.find('.'));
    while (!base.empty() && base.back() == ' ') {
        base.pop_back();
    }
    std::transform(base.begin(), base.end(), base.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (base == device) {
            return true;
        }
    }
    if (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0) {
        return false;
    }
    const std::string number = base.substr(3);
    if (number.size() == 1 && number[0] >= '0' && number[0] <= '9') {
        return true;
    }
    for (const char* superscript : {"\xC2\xB9", "\xC2\xB2", "\xC2\xB3", "\xB9", "\xB2", "\xB3"}) {
        if (number == superscript) {
            return true;
        }
    }
    return false;
}

// The wide form of text in a code page; false when MB_ERR_INVALID_CHARS finds it ill-formed.
bool Decode(UINT codePage, DWORD flags, const std::string& text, std::wstring& wide) {
    const int length = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(codePage, flags, text.data(), length, nullptr, 0);
    if (needed <= 0) {
        return false;
    }
    std::vector<wchar_t> buffer(static_cast<std::size_t>(needed));
    if (MultiByteToWideChar(codePage, flags, text.data(), length, buffer.data(), needed) !=
        needed) {
        return false;
    }
    wide.assign(buffer.data(), buffer.size());
    return true;
}

bool EncodeAnsi(const std::wstring& wide, std::string& text) {
    const int length = static_cast<int>(wide.size());
    const int needed =
        WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return false;
    }
    std::vector<char> buffer(static_cast<std::size_t>(needed));
    if (WideCharToMultiByte(CP_ACP, 0, wide.data(), length, buffer.data(), needed, nullptr,
                            nullptr) != needed) {
        return false;
    }
    text.assign(buffer.data(), buffer.size());
    return true;
}

// The separator offsets of a name read as characters of the system code page; false when the
// characters do not give back the name's own bytes.
bool SeparatorOffsetsByCharacter(const std::string& name, std::vector<std::size_t>& offsets) {
    std::wstring wide;
    if (name.empty() || !Decode(CP_ACP, MB_ERR_INVALID_CHARS, name, wide)) {
        return false;
    }
    std::size_t at = 0;
    std::size_t i = 0;
    while (i < wide.size() && at < name.size()) {
        // A UTF-16 surrogate pair (Windows) is one character of the code page.
        const bool pair =
            sizeof(wchar_t) == 2 && i + 1 < wide.size() && wide[i] >= 0xD800 && wide[i] <= 0xDBFF;
        const int units = pair ? 2 : 1;
        const int bytes =
            WideCharToMultiByte(CP_ACP, 0, &wide[i], units, nullptr, 0, nullptr, nullptr);
        if (bytes <= 0) {
            return false;
        }
        if (bytes == 1 && IsSeparator(name[at])) {
            offsets.push_back(at);
        }
        at += static_cast<std::size_t>(bytes);
        i += static_cast<std::size_t>(units);
    }
    return i == wide.size() && at == name.size();
}

}  // namespace

std::vector<std::size_t> SeparatorOffsets(const std::string& name) {
    std::vector<std::size_t> offsets;
    if (SeparatorOffsetsByCharacter(name, offsets)) {
        return offsets;
    }
    offsets.clear();
    for (std::size_t at = 0; at < name.size(); ++at) {
        if (IsSeparator(name[at])) {
            offsets.push_back(at);
        }
    }
    return offsets;
}

bool IsDirectoryEntryName(const std::string& name) {
    const std::vector<std::size_t> separators = SeparatorOffsets(name);
    return !separators.empty() && separators.back() == name.size() - 1;
}

bool IsSafeEntryName(const std::string& name) {
    if (name.empty() || name.find('\0') != std::string::npos ||
        name.find(':') != std::string::npos) {
        return false;
    }
    std::size_t start = 0;
    std::vector<std::size_t> ends = SeparatorOffsets(name);
    if (ends.empty() || ends.back() != name.size() - 1) {
        ends.push_back(name.size());  // the last segment, unless the name ends in a separator
    }
    for (const std::size_t end : ends) {
        const std::string segment = name.substr(start, end - start);
        // An empty segment is a rooted name ("/x") or a doubled separator ("a//b").
        if (segment.empty() || IsParentSegment(segment) || IsDeviceSegment(segment)) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

bool EntryNameInSystemCodePage(const std::string& stored, bool utf8, std::string& name) {
    if (!utf8 || stored.empty()) {
        name = stored;
        return true;
    }
    std::wstring wide;
    std::string ansi;
    std::wstring back;
    // The code page's default character, or a best-fit look-alike, would not convert back to the
    // same text: only an exact form passes.
    if (!Decode(CP_UTF8, MB_ERR_INVALID_CHARS, stored, wide) || !EncodeAnsi(wide, ansi) ||
        !Decode(CP_ACP, 0, ansi, back) || back != wide) {
        return false;
    }
    name = ansi;
    return true;
}
