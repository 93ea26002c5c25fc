// Joining path pieces and testing what a path names. Paths are wide Windows-form texts; both
// separators are accepted on input and joined paths use "\".
#include "fsutil/paths.h"

#include "platform/win32.h"

std::wstring NormalizeSlashes(const std::wstring& path) {
    std::wstring result = path;
    for (wchar_t& c : result) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return result;
}

std::wstring JoinPath(const std::wstring& base, const std::wstring& name) {
    std::wstring result = NormalizeSlashes(base);
    // After normalising, a trailing "/" of the base has become "\", so one test suffices.
    if (!result.empty() && result.back() != L'\\') {
        result += L'\\';
    }
    result += name;
    return result;
}

bool PathExists(const std::wstring& path) {
    if (path.empty()) {
        return false;
    }
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::wstring& path) {
    if (path.empty()) {
        return false;
    }
    // Only a plain folder counts: any further attribute bit (hidden, read-only, link...) excludes
    // it.
    return GetFileAttributesW(path.c_str()) == FILE_ATTRIBUTE_DIRECTORY;
}

bool IsAnyDirectory(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsLink(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsRealFolder(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           !IsLink(attributes);
}

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}
