// CopyTree: the recursive folder copy that the merge, backup, restore and install steps use.
// Every file is copied with CopyFileW, overwriting; the first file that cannot be copied fails it.
#include "repair/copy_tree.h"

#include <string>

#include "fsutil/dirtree.h"
#include "fsutil/paths.h"
#include "fsutil/text.h"
#include "platform/owners.h"
#include "platform/win32.h"

namespace {

// Fixed buffers of the walk; longer paths are refused rather than cut.
constexpr std::size_t kPatternBufferSize = 260;
constexpr std::size_t kSourcePathBufferSize = 520;

void EnsureFolder(const std::wstring& dst) {
    if (IsDirectory(dst)) {
        return;
    }
    // A folder that cannot be made shows up as the first failing file copy into it.
    MakeDirTree(dst.c_str());
}

bool CopyOneFile(const std::wstring& src, const std::wstring& dst, const wchar_t* name) {
    wchar_t source[kSourcePathBufferSize];
    if (!FormatBounded(source, kSourcePathBufferSize, L"%ls\\%ls", src.c_str(), name)) {
        return false;
    }
    return CopyFileW(source, JoinPath(dst, name).c_str(), FALSE) != FALSE;
}

// The walk behind both copies: with keepGoing false it stops at the first failure, otherwise it
// copies everything it can and reports the failure at the end.
bool CopyTreeWalk(const std::wstring& src, const std::wstring& dst, bool keepGoing) {
    wchar_t pattern[kPatternBufferSize];
    if (!FormatBounded(pattern, kPatternBufferSize, L"%ls\\*.*", src.c_str())) {
        return false;
    }
    WIN32_FIND_DATAW found;
    FindHandle search(FindFirstFileW(pattern, &found));
    if (!search.valid()) {
        return true;  // nothing to copy; dst is not created
    }
    EnsureFolder(dst);
    bool failed = false;
    do {
        bool copied = true;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            copied = IsDotEntry(found.cFileName) ||
                     CopyTreeWalk(JoinPath(src, found.cFileName), JoinPath(dst, found.cFileName),
                                  keepGoing);
        } else {
            copied = CopyOneFile(src, dst, found.cFileName);
        }
        if (!copied) {
            if (!keepGoing) {
                return false;
            }
            failed = true;
        }
    } while (FindNextFileW(search.get(), &found));
    return !failed;
}

}  // namespace

int CopyTree(const std::wstring& src, const std::wstring& dst) {
    return CopyTreeWalk(src, dst, false) ? 1 : 0;
}

int CopyTreeKeepGoing(const std::wstring& src, const std::wstring& dst) {
    return CopyTreeWalk(src, dst, true) ? 1 : 0;
}
