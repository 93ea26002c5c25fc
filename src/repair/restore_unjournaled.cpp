// Putting back a backup no journal accounts for. Without a journal nothing tells which of two
// copies of a folder is the client's, so the restore only adds what is missing and takes nothing
// away: the worst it leaves is a folder with more files than it should have, never one with fewer.
#include "repair/restore_unjournaled.h"

#include <string>
#include <vector>

#include "fsutil/dirtree.h"
#include "fsutil/file_failure.h"
#include "fsutil/paths.h"
#include "layout/folders.h"
#include "platform/win32.h"
#include "repair/copy_tree.h"
#include "repair/durability.h"
#include "state/log.h"

namespace {

// Copies into target what it lacks of saved, at every depth; counts what it added.
bool FillMissing(const std::wstring& saved, const std::wstring& target, int& added,
                 FileFailure* failure) {
    std::vector<WIN32_FIND_DATAW> entries;
    if (!ListFolderEntries(saved, entries, failure)) {
        return false;
    }
    bool whole = true;
    for (const WIN32_FIND_DATAW& entry : entries) {
        const std::wstring from = JoinPath(saved, entry.cFileName);
        const std::wstring to = JoinPath(target, entry.cFileName);
        const DWORD there = GetFileAttributesW(to.c_str());
        bool placed = true;
        if (IsLink(entry.dwFileAttributes)) {
            continue;  // a link is the client's own pointer, never recreated by hand
        }
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            if (there == INVALID_FILE_ATTRIBUTES) {
                ++added;
                placed = CopyTree(from, to, failure) != 0;
            } else if (IsRealFolder(there)) {
                placed = FillMissing(from, to, added, failure);
            }
        } else if (there == INVALID_FILE_ATTRIBUTES) {
            ++added;
            placed = CopyFileW(from.c_str(), to.c_str(), TRUE) != FALSE;
            if (!placed) {
                NoteFailure(failure, L"CopyFileW", from, to);
            }
        }
        whole = whole && placed;
    }
    return whole;
}

// One patch folder of the backup: moved back whole when Documents lacks it, else filled in.
bool PutFolderBack(const std::wstring& sub, int& added, FileFailure* failure) {
    const std::wstring saved = JoinPath(OrgPatchFolder(), sub);
    const std::wstring target = JoinPath(DocumentsFolder(), sub);
    const DWORD there = GetFileAttributesW(target.c_str());
    if (there == INVALID_FILE_ATTRIBUTES) {
        ++added;
        return MoveFileExW(saved.c_str(), target.c_str(), 0) != FALSE ||
               CopyTree(saved, target, failure) != 0;
    }
    if (!IsRealFolder(there)) {
        // A file or a link in the folder's place is the client's; nothing can be merged into it.
        NoteRefusal(failure, L"a folder of its own (a file or a link stands there)", target,
                    ERROR_ALREADY_EXISTS);
        return false;
    }
    return FillMissing(saved, target, added, failure);
}

}  // namespace

bool BackupHoldsPatchFolders() {
    for (const std::wstring& sub : PatchSubFolderNames()) {
        if (PathExists(JoinPath(OrgPatchFolder(), sub))) {
            return true;
        }
    }
    return false;
}

bool PutBackUnjournaledBackup(FileFailure* failure) {
    bool whole = true;
    int added = 0;
    for (const std::wstring& sub : PatchSubFolderNames()) {
        if (IsRealFolder(GetFileAttributesW(JoinPath(OrgPatchFolder(), sub).c_str())) &&
            !PutFolderBack(sub, added, failure)) {
            whole = false;
        }
    }
    if (added > 0) {
        LogWrite(g_log,
                 L"TmpPatch\\OrgPatch holds patch folders no repair journal accounts for: %d "
                 L"items Documents lacked were put back",
                 added);
        if (!FlushPatchFolders(failure)) {
            whole = false;
        }
    }
    return whole;
}
