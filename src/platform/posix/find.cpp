// FindFirstFileW / FindNextFileW / FindClose over a folder listing. The listing is read whole when
// the search starts, "." and ".." first like Windows, then the names in a stable order.
#include <dirent.h>

#include <algorithm>
#include <cwctype>
#include <memory>
#include <vector>

#include "codepage.h"
#include "errors.h"
#include "files.h"
#include "handles.h"
#include "host_path.h"
#include "syscalls.h"

namespace qx {
namespace {

class FindHandle : public HandleObject {
  public:
    explicit FindHandle(std::vector<WIN32_FIND_DATAW> entries) : entries_(std::move(entries)) {}

    // Copies the next entry out; false at the end.
    bool Next(WIN32_FIND_DATAW* data) {
        if (next_ >= entries_.size()) {
            return false;
        }
        *data = entries_[next_++];
        return true;
    }

  private:
    std::vector<WIN32_FIND_DATAW> entries_;
    size_t next_ = 0;
};

FILETIME ToFileTime(const struct timespec& time) {
    // 100-ns intervals since 1601-01-01.
    constexpr int64_t kEpochDifference = 11644473600LL;
    int64_t ticks =
        (static_cast<int64_t>(time.tv_sec) + kEpochDifference) * 10000000LL + time.tv_nsec / 100;
    return {static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
}

// An entry for `name` in `folder`; false when it vanished meanwhile or its name is too long.
bool MakeEntry(const std::string& folder, const std::string& name, WIN32_FIND_DATAW* data) {
    std::wstring wideName = Utf8ToWide(name);
    if (wideName.size() > MAX_PATH - 1) {
        return false;  // Windows could not hold it either
    }
    std::string path = folder.empty()         ? name
                       : folder.back() == '/' ? folder + name
                                              : folder + "/" + name;
    struct stat info {};
    if (sys::Lstat(path.c_str(), &info) != 0) {
        return false;
    }
    *data = WIN32_FIND_DATAW{};
    data->dwFileAttributes = AttributesFromStat(path, name, info);
    data->ftCreationTime = ToFileTime(info.st_ctim);
    data->ftLastAccessTime = ToFileTime(info.st_atim);
    data->ftLastWriteTime = ToFileTime(info.st_mtim);
    if (!S_ISDIR(info.st_mode)) {
        auto size = static_cast<uint64_t>(info.st_size);
        data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFF);
    }
    std::wmemcpy(data->cFileName, wideName.c_str(), wideName.size() + 1);
    return true;
}

// Windows wildcards, case-insensitive: '*' any run, '?' one character; "*.*" matches all.
bool Matches(const wchar_t* pattern, const wchar_t* name) {
    if (*pattern == L'\0') {
        return *name == L'\0';
    }
    if (*pattern == L'*') {
        for (const wchar_t* rest = name;; ++rest) {
            if (Matches(pattern + 1, rest)) {
                return true;
            }
            if (*rest == L'\0') {
                return false;
            }
        }
    }
    if (*name == L'\0') {
        return false;
    }
    if (*pattern != L'?' && std::towupper(*pattern) != std::towupper(*name)) {
        return false;
    }
    return Matches(pattern + 1, name + 1);
}

bool HasWildcard(const std::wstring& pattern) {
    return pattern.find_first_of(L"*?") != std::wstring::npos;
}

// NTFS keeps names in upper-case order; ties (names differing in case only) by code point.
bool ListedBefore(const WIN32_FIND_DATAW& a, const WIN32_FIND_DATAW& b) {
    for (const wchar_t *x = a.cFileName, *y = b.cFileName;; ++x, ++y) {
        wint_t ux = std::towupper(*x), uy = std::towupper(*y);
        if (ux != uy) {
            return ux < uy;
        }
        if (*x == L'\0') {
            break;
        }
    }
    return std::wcscmp(a.cFileName, b.cFileName) < 0;
}

// Lists `folder` (host path, "" for the current folder) with the entries matching `pattern`.
bool ListFolder(const std::string& folder, const std::wstring& pattern,
                std::vector<WIN32_FIND_DATAW>* entries) {
    std::string opened = folder.empty() ? "." : folder;
    UniqueDir dir(sys::Opendir(opened.c_str()));
    if (!dir) {
        SetLastErrorFromErrno(errno, opened, FailedCall::ListFolder);
        return false;
    }
    std::wstring wildcard = pattern == L"*.*" ? L"*" : pattern;
    std::vector<WIN32_FIND_DATAW> found;
    WIN32_FIND_DATAW data;
    for (const char* dot : {".", ".."}) {
        if (Matches(wildcard.c_str(), Utf8ToWide(dot).c_str()) && MakeEntry(opened, dot, &data)) {
            entries->push_back(data);
        }
    }
    while (struct dirent* entry = ::readdir(dir.get())) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        if (!Matches(wildcard.c_str(), Utf8ToWide(name).c_str())) {
            continue;
        }
        if (MakeEntry(opened, name, &data)) {
            found.push_back(data);
        }
    }
    std::sort(found.begin(), found.end(), ListedBefore);
    entries->insert(entries->end(), found.begin(), found.end());
    return true;
}

}  // namespace
}  // namespace qx

HANDLE FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData) {
    std::string host;
    if (lpFileName == nullptr || lpFindFileData == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (!qx::ToHostPath(std::wstring(lpFileName), &host)) {
        return INVALID_HANDLE_VALUE;
    }
    size_t slash = host.rfind('/');
    std::string folder = slash == std::string::npos ? "" : host.substr(0, slash == 0 ? 1 : slash);
    std::string last = slash == std::string::npos ? host : host.substr(slash + 1);
    std::wstring pattern = qx::Utf8ToWide(last);
    if (pattern.empty()) {  // "dir\" names no file
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::vector<WIN32_FIND_DATAW> entries;
    if (qx::HasWildcard(pattern)) {
        if (!qx::ListFolder(folder, pattern, &entries)) {
            return INVALID_HANDLE_VALUE;
        }
    } else {
        WIN32_FIND_DATAW data;
        if (qx::MakeEntry(folder, last, &data)) {
            entries.push_back(data);
        }
    }
    if (entries.empty()) {
        qx::SetLastErrorFromErrno(ENOENT, host);
        return INVALID_HANDLE_VALUE;
    }
    auto search = std::make_shared<qx::FindHandle>(std::move(entries));
    search->Next(lpFindFileData);
    return qx::AddHandle(search);
}

BOOL FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData) {
    auto search = qx::LookUpHandleAs<qx::FindHandle>(hFindFile);
    if (search == nullptr || lpFindFileData == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!search->Next(lpFindFileData)) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
    if (qx::LookUpHandleAs<qx::FindHandle>(hFindFile) == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return CloseHandle(hFindFile);
}
