// CopyTree and MoveTree: one walk over the source folder, which copies every file with CopyFileW or
// moves it with MoveFileExW, replacing; the first file that cannot be placed fails it. A move
// costs no copying on one volume, so the merge and the install move the files they throw away.
// Nothing is ever written through a link below the destination: a link in the way stops the walk.
#include "repair/copy_tree.h"

#include <string>

#include "fsutil/dirtree.h"
#include "fsutil/file_failure.h"
#include "fsutil/paths.h"
#include "fsutil/text.h"
#include "platform/owners.h"
#include "platform/win32.h"

namespace {

// Fixed buffers of the walk; longer paths are refused rather than cut.
constexpr std::size_t kPatternBufferSize = 260;
constexpr std::size_t kSourcePathBufferSize = 520;

// True, with the refusal recorded, when a link (symbolic link or junction) stands where the walk
// would put a file or a folder. What it leads to is not the tree's to change, and replacing the
// link itself could not be undone, so the walk stops there and the link's target stays as it is.
bool IsLinkInTheWay(const std::wstring& path, FileFailure* failure) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (!IsLink(attributes)) {
        return false;
    }
    NoteRefusal(failure, L"a file or folder of its own (it is a link)", path, ERROR_ACCESS_DENIED);
    return true;
}

void EnsureFolder(const std::wstring& dst) {
    if (IsDirectory(dst)) {
        return;
    }
    // A folder that cannot be made shows up as the first failing file copy into it.
    MakeDirTree(dst.c_str());
}

bool PlaceOneFile(const std::wstring& src, const std::wstring& dst, const wchar_t* name, bool move,
                  FileFailure* failure) {
    wchar_t source[kSourcePathBufferSize];
    const std::wstring target = JoinPath(dst, name);
    if (!FormatBounded(source, kSourcePathBufferSize, L"%ls\\%ls", src.c_str(), name)) {
        NoteRefusal(failure, L"shorter than the copy's path buffer", JoinPath(src, name),
                    ERROR_FILENAME_EXCED_RANGE, target);
        return false;
    }
    if (IsLinkInTheWay(target, failure)) {
        return false;
    }
    // A refused move is no failure yet: the copy decides, with the copy's own rules and error.
    if (move && MoveFileExW(source, target.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE) {
        return true;
    }
    if (CopyFileW(source, target.c_str(), FALSE) == FALSE) {
        NoteFailure(failure, L"CopyFileW", source, target);
        return false;
    }
    return true;
}

// Only a source that is not there has nothing to copy; one that cannot be listed would otherwise
// pass for an empty folder, and a backup would silently lack its files.
bool IsMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// `top`: dst is the walk's own destination, which may be a link (a Documents folder moved
// elsewhere); every folder below it must be a folder of its own.
bool TreeWalk(const std::wstring& src, const std::wstring& dst, bool move, bool top,
              FileFailure* failure) {
    wchar_t pattern[kPatternBufferSize];
    if (!FormatBounded(pattern, kPatternBufferSize, L"%ls\\*.*", src.c_str())) {
        NoteRefusal(failure, L"shorter than the copy's search buffer", src,
                    ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    WIN32_FIND_DATAW found;
    FindHandle search(FindFirstFileW(pattern, &found));
    if (!search.valid()) {
        if (IsMissing(GetLastError())) {
            return true;  // nothing to copy; dst is not created
        }
        NoteFailure(failure, L"FindFirstFileW", src);
        return false;
    }
    if (!top && IsLinkInTheWay(dst, failure)) {
        return false;
    }
    if (move && GetFileAttributesW(dst.c_str()) == INVALID_FILE_ATTRIBUTES) {
        search.reset();  // the folder is not held open by our own search while it moves
        if (MoveFileExW(src.c_str(), dst.c_str(), 0) != FALSE) {
            return true;
        }
        search.reset(FindFirstFileW(pattern, &found));
        if (!search.valid()) {
            NoteFailure(failure, L"FindFirstFileW", src);
            return false;
        }
    }
    EnsureFolder(dst);
    do {
        bool copied = true;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            copied = IsDotEntry(found.cFileName) ||
                     TreeWalk(JoinPath(src, found.cFileName), JoinPath(dst, found.cFileName), move,
                              false, failure);
        } else {
            copied = PlaceOneFile(src, dst, found.cFileName, move, failure);
        }
        if (!copied) {
            return false;
        }
    } while (FindNextFileW(search.get(), &found));
    return true;
}

}  // namespace

bool CopyTree(const std::wstring& src, const std::wstring& dst, FileFailure* failure) {
    return TreeWalk(src, dst, false, true, failure);
}

bool MoveTree(const std::wstring& src, const std::wstring& dst, FileFailure* failure) {
    return TreeWalk(src, dst, true, true, failure);
}
