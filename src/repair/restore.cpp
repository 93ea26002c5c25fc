// The restore of the backup in TmpPatch\OrgPatch and the start-up recovery. A folder goes back by
// one announced rename, what a failed install left in its place moved aside first; where the
// system refuses a rename, the restore compares instead: Documents' folder is made equal to the
// backup file by file, so a file that cannot be removed or written but still holds its old content
// is no obstacle. Nothing is ever deleted that the backup cannot put back.
#include "repair/restore.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fsutil/dirtree.h"
#include "fsutil/file_failure.h"
#include "fsutil/paths.h"
#include "layout/folders.h"
#include "platform/owners.h"
#include "platform/win32.h"
#include "repair/journal.h"
#include "repair/restore_unjournaled.h"
#include "repair/tmp_patch.h"
#include "state/log.h"

namespace {

const size_t kCompareChunk = 64 * 1024;

uint64_t SizeOf(const WIN32_FIND_DATAW& data) {
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool SameBytes(const std::wstring& a, const std::wstring& b) {
    const UniqueFile first(_wfopen(a.c_str(), L"rb"));
    const UniqueFile second(_wfopen(b.c_str(), L"rb"));
    if (!first || !second) {
        return false;
    }
    std::vector<char> left(kCompareChunk);
    std::vector<char> right(kCompareChunk);
    for (;;) {
        const size_t got = fread(left.data(), 1, left.size(), first.get());
        if (fread(right.data(), 1, right.size(), second.get()) != got ||
            std::memcmp(left.data(), right.data(), got) != 0) {
            return false;
        }
        if (got < left.size()) {
            return !ferror(first.get()) && !ferror(second.get());
        }
    }
}

// True when target is a file with the saved file's content. Its size decides most cases without
// reading a byte.
bool HoldsSavedContent(const std::wstring& saved, uint64_t savedSize, const std::wstring& target) {
    WIN32_FIND_DATAW data;
    FindHandle found(FindFirstFileW(target.c_str(), &data));
    if (!found.valid() || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        IsLink(data.dwFileAttributes) || SizeOf(data) != savedSize) {
        return false;
    }
    return SameBytes(saved, target);
}

bool PutFileBack(const std::wstring& saved, uint64_t savedSize, const std::wstring& target,
                 FileFailure* failure) {
    if (HoldsSavedContent(saved, savedSize, target)) {
        return true;
    }
    // Replaced in one step, never deleted first: a file that cannot be written keeps its content.
    if (CopyFileW(saved.c_str(), target.c_str(), FALSE) == FALSE) {
        NoteFailure(failure, L"CopyFileW", saved, target);
        return false;
    }
    return true;
}

// Makes target a folder of its own, removing a file or a link that stands in its place.
bool EnsureRealFolder(const std::wstring& target, FileFailure* failure) {
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (IsRealFolder(attributes)) {
        return true;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && !DeleteItem(target, attributes, failure)) {
        return false;
    }
    return MakeDirTree(target.c_str(), failure);
}

bool MirrorFolder(const std::wstring& saved, const std::wstring& target, FileFailure* failure);

// Applies `step` to every entry of the folder, going on past a failed one; true when the folder
// could be listed and every step succeeded.
template <typename Step>
bool ForEachEntry(const std::wstring& folder, FileFailure* failure, Step step) {
    std::vector<WIN32_FIND_DATAW> entries;
    if (!ListFolderEntries(folder, entries, failure)) {
        return false;
    }
    bool whole = true;
    for (const WIN32_FIND_DATAW& entry : entries) {
        if (!step(entry)) {
            whole = false;
        }
    }
    return whole;
}

// Removes what target holds that the backup lacks, or holds in another form (a file where the
// backup has a folder, a link where it has either).
bool RemoveExtras(const std::wstring& saved, const std::wstring& target, FileFailure* failure) {
    return ForEachEntry(target, failure, [&](const WIN32_FIND_DATAW& entry) {
        const DWORD savedAttributes = GetFileAttributesW(JoinPath(saved, entry.cFileName).c_str());
        const bool sameKind = savedAttributes != INVALID_FILE_ATTRIBUTES &&
                              !IsLink(entry.dwFileAttributes) &&
                              IsRealFolder(savedAttributes) ==
                                  ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
        return sameKind ||
               DeleteItem(JoinPath(target, entry.cFileName), entry.dwFileAttributes, failure);
    });
}

bool PutEntriesBack(const std::wstring& saved, const std::wstring& target, FileFailure* failure) {
    return ForEachEntry(saved, failure, [&](const WIN32_FIND_DATAW& entry) {
        const std::wstring from = JoinPath(saved, entry.cFileName);
        const std::wstring to = JoinPath(target, entry.cFileName);
        return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                   ? MirrorFolder(from, to, failure)
                   : PutFileBack(from, SizeOf(entry), to, failure);
    });
}

// Makes target equal to saved; goes on past a failure so that as much as possible returns.
bool MirrorFolder(const std::wstring& saved, const std::wstring& target, FileFailure* failure) {
    if (!EnsureRealFolder(target, failure)) {
        return false;
    }
    const bool cleared = RemoveExtras(saved, target, failure);
    const bool filled = PutEntriesBack(saved, target, failure);
    return cleared && filled;
}

// Moves what a failed install left of a patch folder out of the way, into TmpPatch\Undone: it is
// the install's, and what it holds of the client's equals the backup.
bool MoveAside(const std::wstring& target, const std::wstring& sub) {
    const std::wstring undone = UndoneFolder();
    const std::wstring aside = JoinPath(undone, sub);
    return RemoveOwnItem(aside) && MakeDirTree(undone.c_str()) &&
           MoveFileExW(target.c_str(), aside.c_str(), 0) != FALSE;
}

// Puts one folder of the backup back into Documents: by one rename, announced in the journal
// first, or else by making Documents' folder equal to it, which leaves the backup whole.
bool PutFolderBack(const std::wstring& sub, FileFailure* failure) {
    const std::wstring saved = JoinPath(OrgPatchFolder(), sub);
    const std::wstring target = JoinPath(DocumentsFolder(), sub);
    if (!MarkFolderRestoring(sub)) {
        return MirrorFolder(saved, target, failure);  // unannounced, nothing may move
    }
    if (PathExists(target) && !MoveAside(target, sub)) {
        return MirrorFolder(saved, target, failure);
    }
    if (MoveFileExW(saved.c_str(), target.c_str(), 0) != FALSE) {
        return true;
    }
    return MirrorFolder(saved, target, failure);
}

}  // namespace

bool RestoreOriginalPatches(FileFailure* failure) {
    const RepairJournal journal = ReadRepairJournalWithMarks(failure);
    if (journal.state == RepairJournalState::Unreadable) {
        // Whatever it said, the backup is kept and what Documents lacks of it goes back; the
        // journal stays for a start that can read it.
        PutBackUnjournaledBackup(failure);
        return false;
    }
    if (journal.state == RepairJournalState::None) {
        return !BackupHoldsPatchFolders() || PutBackUnjournaledBackup(failure);
    }
    if (!AsksForRestore(journal.state)) {
        return true;  // the repair or an earlier restore finished
    }
    bool whole = true;
    for (const std::wstring& sub : PatchSubFolderNames()) {
        bool back = true;
        switch (PlaceOfOriginal(journal, sub)) {
            case OriginalPlace::Backup:
                back = PutFolderBack(sub, failure);
                break;
            case OriginalPlace::Nowhere:
                // Once the removal may have begun, a folder the client never had is the
                // install's; before, Documents lost folders only by moves into the backup.
                back = journal.state == RepairJournalState::BackupBegun ||
                       EnsureNoDirTree(JoinPath(DocumentsFolder(), sub), failure);
                break;
            case OriginalPlace::Documents:
                break;
        }
        if (!back) {
            whole = false;
        }
    }
    return whole;
}

bool PutBackupBack(FileFailure* failure) {
    if (!RestoreOriginalPatches(failure)) {
        LogFailure(L"restoring the patch folders", *failure);
        return false;
    }
    // Recorded once the folders are on the disk; until then a start repeats the restore, which
    // finds nothing left to do. Then the backup may go, and the journal after it.
    FileFailure cleared;
    if (AsksForRestore(ReadRepairJournal()) && !MarkRestoreComplete(&cleared)) {
        LogFailure(L"recording the restore", cleared);
    } else if (!RemoveObsoleteBackups(&cleared)) {
        LogFailure(L"removing the restored backup", cleared);
    }
    return true;
}

bool RecoverInterruptedRepair(FileFailure* failure) {
    const RepairJournalState state = ReadRepairJournal();
    if (BackupObsolete(state)) {
        return true;  // Documents is as the last repair or restore left it
    }
    if (AsksForRestore(state) && state != RepairJournalState::Unreadable) {
        LogWrite(g_log,
                 L"an earlier repair stopped after it began moving the patch folders: "
                 L"restoring them");
    }
    return PutBackupBack(failure);
}
