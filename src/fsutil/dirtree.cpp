// Creating folder chains and deleting or recreating whole folder trees. Path lengths are bounded
// like the Win32 buffers they fill; longer paths make the operation fail rather than truncate.
#include "fsutil/dirtree.h"

#include <cwchar>

#include "fsutil/file_failure.h"
#include "fsutil/paths.h"
#include "fsutil/text.h"
#include "platform/owners.h"
#include "platform/win32.h"

namespace {

// Lengths, terminator included, of the buffers that hold a path while creating or deleting.
constexpr size_t kTreePathChars = MAX_PATH;
constexpr size_t kSearchPatternChars = MAX_PATH;
constexpr size_t kChildPathChars = 2 * static_cast<size_t>(MAX_PATH);

bool IsAsciiLetter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// "D:" and "D:\" (or "D:/"): a drive root, which exists whatever _wmkdir says about it.
bool IsDriveRoot(const wchar_t* path) {
    const size_t length = std::wcslen(path);
    if (length != 2 && length != 3) {
        return false;
    }
    if (!IsAsciiLetter(path[0]) || path[1] != L':') {
        return false;
    }
    return length == 2 || IsSeparator(path[2]);
}

// How a tree is deleted: the tool's own folders lose their read-only attributes first; the first
// failing call is recorded when the caller asks for it.
struct DeleteOptions {
    bool clearReadOnly;
    FileFailure* failure;
};

bool DeleteTree(const wchar_t* path, const DeleteOptions& options);

bool ClearReadOnly(const wchar_t* path, DWORD attributes, const DeleteOptions& options) {
    if (!options.clearReadOnly || (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return true;
    }
    // The attributes a program may set, without read-only; none left is "normal".
    const DWORD kept =
        attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    if (SetFileAttributesW(path, kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL) == FALSE) {
        NoteFailure(options.failure, L"SetFileAttributesW", path);
        return false;
    }
    return true;
}

bool RemoveFolder(const wchar_t* path, const DeleteOptions& options) {
    if (RemoveDirectoryW(path) == FALSE) {
        NoteFailure(options.failure, L"RemoveDirectoryW", path);
        return false;
    }
    return true;
}

bool DeleteOneFile(const wchar_t* path, const DeleteOptions& options) {
    if (DeleteFileW(path) == FALSE) {
        NoteFailure(options.failure, L"DeleteFileW", path);
        return false;
    }
    return true;
}

// A link (symbolic link or junction) is removed itself; its target is never entered, and its
// attributes are never changed, since they would be the target's.
bool RemoveLink(const wchar_t* path, DWORD attributes, const DeleteOptions& options) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return RemoveFolder(path, options);
    }
    return DeleteOneFile(path, options);
}

bool DeleteEntry(const wchar_t* path, DWORD attributes, const DeleteOptions& options) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return RemoveLink(path, attributes, options);
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return DeleteTree(path, options);
    }
    return ClearReadOnly(path, attributes, options) && DeleteOneFile(path, options);
}

// Deletes the entries that the search pattern lists inside the folder; stops at the first entry
// that cannot be deleted.
void DeleteContents(const wchar_t* path, const wchar_t* pattern, const DeleteOptions& options) {
    WIN32_FIND_DATAW data;
    FindHandle search(FindFirstFileW(pattern, &data));
    if (!search.valid()) {
        return;
    }
    do {
        if (IsDotEntry(data.cFileName)) {
            continue;
        }
        wchar_t child[kChildPathChars];
        if (!FormatBounded(child, kChildPathChars, L"%ls\\%ls", path, data.cFileName)) {
            NoteRefusal(options.failure, L"shorter than the deletion's path buffer",
                        JoinPath(path, data.cFileName), ERROR_FILENAME_EXCED_RANGE);
            return;
        }
        if (!DeleteEntry(child, data.dwFileAttributes, options)) {
            return;
        }
    } while (FindNextFileW(search.get(), &data));
}

bool DeleteTree(const wchar_t* path, const DeleteOptions& options) {
    if (path == nullptr) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW(path);
    if (IsLink(attributes)) {
        // A linked folder: remove the link only. A link to a file is not a folder: false.
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) && RemoveFolder(path, options);
    }
    wchar_t pattern[kSearchPatternChars];
    if (!FormatBounded(pattern, kSearchPatternChars, L"%ls\\*.*", path)) {
        NoteRefusal(options.failure, L"shorter than the deletion's path buffer", path,
                    ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    // After a failed entry the folder still holds something, so its removal fails too.
    DeleteContents(path, pattern, options);
    if (attributes != INVALID_FILE_ATTRIBUTES && !ClearReadOnly(path, attributes, options)) {
        return false;
    }
    return RemoveFolder(path, options);
}

}  // namespace

bool IsDotEntry(const wchar_t* name) {
    return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

bool ListFolderEntries(const std::wstring& folder, std::vector<WIN32_FIND_DATAW>& entries,
                       FileFailure* failure) {
    WIN32_FIND_DATAW data;
    FindHandle search(FindFirstFileW(JoinPath(folder, L"*.*").c_str(), &data));
    if (!search.valid()) {
        NoteFailure(failure, L"FindFirstFileW", folder);
        return false;
    }
    do {
        if (!IsDotEntry(data.cFileName)) {
            entries.push_back(data);
        }
    } while (FindNextFileW(search.get(), &data));
    return true;
}

bool MakeDir(const wchar_t* path, FileFailure* failure) {
    if (path == nullptr) {
        return false;
    }
    const int result = _wmkdir(path);
    const int error = errno;
    if (IsDriveRoot(path)) {
        return true;
    }
    // EEXIST also comes back when a file of that name exists; the next level then fails.
    if (result >= 0 || error == EEXIST) {
        return true;
    }
    NoteCrtFailure(failure, L"_wmkdir", path, error);
    return false;
}

bool MakeDirTree(const wchar_t* path, FileFailure* failure) {
    if (path == nullptr) {
        return false;
    }
    const size_t length = std::wcslen(path);
    if (length >= kTreePathChars) {
        NoteRefusal(failure, L"shorter than MAX_PATH", path, ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    std::wstring prefix;
    size_t segmentStart = 0;
    for (size_t i = 0; i < length; ++i) {
        if (!IsSeparator(path[i])) {
            continue;
        }
        const std::wstring segment(path + segmentStart, path + i);
        if (!MakeDir((prefix + segment).c_str(), failure)) {
            return false;
        }
        prefix += segment;
        prefix += L'\\';
        segmentStart = i + 1;
    }
    const std::wstring last(path + segmentStart, path + length);
    if (last.empty()) {
        return true;
    }
    return MakeDir((prefix + last).c_str(), failure);
}

bool DeleteDirTree(const wchar_t* path, FileFailure* failure) {
    return DeleteTree(path, DeleteOptions{false, failure});
}

bool EnsureNoDirTree(const std::wstring& path, FileFailure* failure) {
    if (!PathExists(path)) {
        return true;
    }
    return DeleteTree(path.c_str(), DeleteOptions{false, failure}) || !PathExists(path);
}

bool DeleteItem(const std::wstring& path, DWORD attributes, FileFailure* failure) {
    return DeleteEntry(path.c_str(), attributes, DeleteOptions{false, failure});
}

bool RemoveOwnItem(const std::wstring& path, FileFailure* failure) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    return DeleteEntry(path.c_str(), attributes, DeleteOptions{true, failure}) || !PathExists(path);
}

bool RecreateDir(const std::wstring& path) {
    if (!path.empty() && IsDirectory(path)) {
        DeleteDirTree(path.c_str());
    }
    return MakeDirTree(path.c_str());
}
