// The repair journal: a small file in TmpPatch that records how far a repair got with the
// client's patch folders, so that a start after a crash knows which of them must go back, and a
// finished repair is never undone.
#pragma once

#include <map>
#include <string>

struct FileFailure;

enum class RepairJournalState {
    None,             // no journal, or nothing in it that can be trusted: nothing to restore
    BackupBegun,      // patch folders are being moved into TmpPatch\OrgPatch, each announced
    BackupComplete,   // TmpPatch\OrgPatch holds the whole backup
    RemovalBegun,     // Documents may have lost its patch folders and been partly installed
    InstallComplete,  // the repair finished: nothing to restore, the backup is obsolete
    RestoreComplete,  // the backup went back whole: nothing to restore, the backup is obsolete
    Unreadable        // a journal is there but cannot be read: its backup is kept
};

// The last line a journal holds about one patch folder: a move of it into the backup, or out of
// the backup back into Documents, announced before it was made.
enum class FolderMark { None, Moving, Restoring };

struct RepairJournal {
    RepairJournalState state = RepairJournalState::None;
    std::map<std::wstring, FolderMark> marks;  // by patch folder name

    FolderMark MarkOf(const std::wstring& sub) const;
};

// Where the client's own copy of a patch folder is, judged by the journal and by what exists: in
// TmpPatch\OrgPatch, still (or again) in Documents, or nowhere (the client never had it).
enum class OriginalPlace { Backup, Documents, Nowhere };
OriginalPlace PlaceOfOriginal(const RepairJournal& journal, const std::wstring& sub);

// Each mark is on the disk before it returns and is read back; false, with the failing call in
// `failure`, when it could not be written or the journal does not read as the new state. The
// marks that say where folders are put the patch folders on the disk first.
// Starts a new journal: the backup begins.
bool MarkBackupBegun(FileFailure* failure = nullptr);
// Announces the move of a patch folder into the backup (while the backup is taken, or while a
// pending backup is completed) or out of it back into Documents (while it is restored).
bool MarkFolderMoving(const std::wstring& sub, FileFailure* failure = nullptr);
bool MarkFolderRestoring(const std::wstring& sub, FileFailure* failure = nullptr);
bool MarkBackupComplete(FileFailure* failure = nullptr);
// Adds that the removal of the patch folders begins. Nothing may be removed unless this returned
// true.
bool MarkRemovalBegun(FileFailure* failure = nullptr);
// Records that the new patch folders are installed, before the success is shown and before
// anything of the backup is removed. False when it could not be recorded: the journal then still
// asks for the restore, which the caller makes.
bool MarkInstallComplete(FileFailure* failure = nullptr);
// Records that the backup went back whole, so that it may go.
bool MarkRestoreComplete(FileFailure* failure = nullptr);
// Removes the journal; true when none is left.
bool ClearRepairJournal();

// The journal as it reads; when it is there but cannot be read (Unreadable), the failing call is
// in `failure`.
RepairJournal ReadRepairJournalWithMarks(FileFailure* failure = nullptr);
RepairJournalState ReadRepairJournal();
// True when TmpPatch holds a backup that belongs to the client and must be kept: the journal says
// the backup began and neither the install nor the restore finished, or it cannot be read.
bool RestorePending();
// The same for a journal state already read.
bool AsksForRestore(RepairJournalState state);
// True when the journal says the backup may go: the install or the restore completed. Nothing
// else lets a backup be removed.
bool BackupObsolete(RepairJournalState state);
