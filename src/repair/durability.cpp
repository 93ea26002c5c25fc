// Flushing through Win32: FlushFileBuffers on a file, on a folder opened with backup semantics,
// and on the volume behind a drive ("\\.\C:"). A phase is flushed through the volume where the
// system allows it, else by walking the folders it changed.
#include "repair/durability.h"

#include <cwctype>
#include <set>
#include <vector>

#include "fsutil/dirtree.h"
#include "fsutil/file_failure.h"
#include "fsutil/flush.h"
#include "fsutil/paths.h"
#include "layout/folders.h"
#include "platform/owners.h"
#include "state/log.h"

namespace {

// "\\.\C:" for a path on drive C: (also behind "\\?\"); empty for a path without a drive.
std::wstring VolumeOf(const std::wstring& path) {
    const std::wstring plain = path.compare(0, 4, L"\\\\?\\") == 0 ? path.substr(4) : path;
    if (plain.size() < 2 || plain[1] != L':' || !iswalpha(plain[0])) {
        return std::wstring();
    }
    return L"\\\\.\\" + plain.substr(0, 2);
}

// One flush of the volume the path is on; false when there is none or the system refuses it.
bool FlushVolumeOf(const std::wstring& path) {
    const std::wstring volume = VolumeOf(path);
    if (volume.empty()) {
        return false;
    }
    const UniqueHandle handle(CreateFileW(volume.c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    return handle.valid() && FlushFileBuffers(handle.get()) != FALSE;
}

// Flushes one item, opened for writing with `flags`. One that cannot be opened so (a read-only
// file, a folder or file of another user) cannot be flushed and is counted in `skipped`; only a
// flush that fails is a failure.
bool FlushItem(const std::wstring& path, DWORD flags, int& skipped, FileFailure* failure) {
    const UniqueHandle handle(OpenForFlush(path, flags));
    if (!handle.valid()) {
        ++skipped;
        return true;
    }
    return FlushHandleToDisk(handle.get(), path, failure);
}

// Flushes every file and folder of a tree, its root included, never following a link. A folder
// that cannot be listed is counted in `skipped` like an item that cannot be opened.
bool FlushTree(const std::wstring& folder, int& skipped, FileFailure* failure) {
    std::vector<WIN32_FIND_DATAW> entries;
    if (!ListFolderEntries(folder, entries)) {
        ++skipped;
        return true;
    }
    for (const WIN32_FIND_DATAW& entry : entries) {
        const std::wstring path = JoinPath(folder, entry.cFileName);
        bool flushed = true;
        if (IsLink(entry.dwFileAttributes)) {
            continue;
        }
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            flushed = FlushTree(path, skipped, failure);
        } else {
            flushed = FlushItem(path, FILE_ATTRIBUTE_NORMAL, skipped, failure);
        }
        if (!flushed) {
            return false;
        }
    }
    return FlushItem(folder, FILE_FLAG_BACKUP_SEMANTICS, skipped, failure);
}

// The patch folders file by file: the trees a phase fills, then the folders whose entries it
// changes. Missing folders are passed over.
bool FlushPatchFoldersOneByOne(bool documentsOnly, FileFailure* failure) {
    std::vector<std::wstring> trees;
    for (const std::wstring& sub : PatchSubFolderNames()) {
        trees.push_back(JoinPath(DocumentsFolder(), sub));
    }
    std::vector<std::wstring> folders{DocumentsFolder()};
    if (!documentsOnly) {
        trees.push_back(OrgPatchFolder());
        trees.push_back(UndoneFolder());
        folders.push_back(TmpPatchFolder());
    }
    int skipped = 0;
    for (const std::wstring& tree : trees) {
        const DWORD attributes = GetFileAttributesW(tree.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !IsLink(attributes) &&
            !FlushTree(tree, skipped, failure)) {
            return false;
        }
    }
    for (const std::wstring& folder : folders) {
        if (PathExists(folder) && !FlushFolderEntries(folder, failure)) {
            return false;
        }
    }
    if (skipped > 0) {
        LogWrite(g_log, L"%d items in the patch folders could not be opened to be flushed",
                 skipped);
    }
    return true;
}

}  // namespace

bool FlushPatchFolders(FileFailure* failure) {
    const bool volumeFlushed = FlushVolumeOf(TmpPatchFolder());
    // Behind a link, Documents may be on another volume: its part goes file by file.
    const bool documentsLinked = IsLink(GetFileAttributesW(DocumentsFolder().c_str()));
    if (volumeFlushed && !documentsLinked) {
        return true;
    }
    return FlushPatchFoldersOneByOne(volumeFlushed, failure);
}
