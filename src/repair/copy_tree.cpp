// CopyTree: the recursive folder copy that the merge, backup, restore and install steps use.
// Every file is copied with CopyFileW, overwriting; the first file that cannot be copied fails it.
#include <cwchar>
#include <string>

#include "fsutil/paths.h"
#include "platform/win32.h"
#include "repair/install_stages.h"

namespace {

// Fixed buffers of the walk; longer paths are refused rather than cut.
constexpr std::size_t kPatternBufferSize = 260;
constexpr std::size_t kSourcePathBufferSize = 520;

// Closes a directory search on every way out.
class FindHandle {
  public:
    explicit FindHandle(HANDLE handle) : handle_(handle) {}
    ~FindHandle() {
        if (valid()) {
            FindClose(handle_);
        }
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;

    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

  private:
    HANDLE handle_;
};

bool IsDotEntry(const wchar_t* name) {
    return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

void EnsureFolder(const std::wstring& dst) {
    if (!dst.empty() && GetFileAttributesW(dst.c_str()) == FILE_ATTRIBUTE_DIRECTORY) {
        return;
    }
    // A folder that cannot be made shows up as the first failing file copy into it.
    MakeDirTree(dst.c_str());
}

bool CopyOneFile(const std::wstring& src, const std::wstring& dst, const wchar_t* name) {
    wchar_t source[kSourcePathBufferSize];
    if (std::swprintf(source, kSourcePathBufferSize, L"%ls\\%ls", src.c_str(), name) < 0) {
        return false;
    }
    return CopyFileW(source, JoinPath(dst, name).c_str(), FALSE) != FALSE;
}

}  // namespace

int CopyTree(const std::wstring& src, const std::wstring& dst) {
    wchar_t pattern[kPatternBufferSize];
    if (std::swprintf(pattern, kPatternBufferSize, L"%ls\\*.*", src.c_str()) < 0) {
        return 0;
    }
    WIN32_FIND_DATAW found;
    FindHandle search(FindFirstFileW(pattern, &found));
    if (!search.valid()) {
        return 1;  // nothing to copy; dst is not created
    }
    EnsureFolder(dst);
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            if (!IsDotEntry(found.cFileName) &&
                !CopyTree(JoinPath(src, found.cFileName), JoinPath(dst, found.cFileName))) {
                return 0;
            }
        } else if (!CopyOneFile(src, dst, found.cFileName)) {
            return 0;
        }
    } while (FindNextFileW(search.get(), &found));
    return 1;
}
