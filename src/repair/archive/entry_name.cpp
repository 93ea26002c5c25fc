// Entry-name rules of the archive reader. An archive comes from the network, so a name is only
// used when it cannot lead a write outside the destination folder, on Windows or on Linux.
#include "repair/archive/entry_name.h"

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

}  // namespace

bool IsDirectoryEntryName(const std::string& name) {
    return !name.empty() && IsSeparator(name.back());
}

bool IsSafeEntryName(const std::string& name) {
    if (name.empty() || IsSeparator(name.front())) {
        return false;
    }
    if (name.find('\0') != std::string::npos || name.find(':') != std::string::npos) {
        return false;
    }
    std::string::size_type start = 0;
    while (start < name.size()) {
        std::string::size_type end = start;
        while (end < name.size() && !IsSeparator(name[end])) {
            ++end;
        }
        const std::string segment = name.substr(start, end - start);
        // An empty segment here comes from a doubled separator ("a//b").
        if (segment.empty() || IsParentSegment(segment)) {
            return false;
        }
        start = end + 1;
    }
    return true;
}
