// The stages after extraction: merging the unpacked trees into TmpPatch\All, backing up the
// client's four patch folders and removing them before the install. The unpacked trees and All
// are thrown away afterwards and the backup is the client's own folders, so all of them move
// rather than copy: on one volume a repair costs what the patch costs, not what the client holds.
#include "repair/install_stages.h"

#include <string>

#include "fsutil/dirtree.h"
#include "fsutil/file_failure.h"
#include "fsutil/paths.h"
#include "layout/folders.h"
#include "repair/copy_tree.h"
#include "repair/journal.h"
#include "repair/tmp_patch.h"
#include "state/log.h"

namespace {

// Moves one extraction folder into All. A name from the patch list that is not one plain name
// would reach outside TmpPatch.
bool MergeFolder(const PlannedArchive& archive, const std::wstring& all, FileFailure* failure) {
    if (!IsPlainTmpName(archive.folderName)) {
        NoteRefusal(failure, L"a plain name in TmpPatch", archive.folderName, ERROR_INVALID_NAME,
                    all);
        return false;
    }
    return MoveTree(archive.extractionFolder, all, failure);
}

// Moves the client's folder into the backup, announced in the journal first. Where the system
// refuses the move (another volume, a file in use) a backup still being taken copies the folder
// instead; a backup being completed cannot, since its journal already counts it whole.
bool BackUpFolder(const std::wstring& sub, bool mayCopy, FileFailure* failure) {
    const std::wstring original = JoinPath(DocumentsFolder(), sub);
    const std::wstring saved = JoinPath(OrgPatchFolder(), sub);
    // A copy of an earlier try that stopped half way would stand in the way.
    if (!RemoveOwnItem(saved, failure) || !MarkFolderMoving(sub, failure)) {
        return false;
    }
    if (MoveFileExW(original.c_str(), saved.c_str(), 0) != FALSE) {
        return true;
    }
    if (!mayCopy) {
        NoteFailure(failure, L"MoveFileExW", original, saved);
        return false;
    }
    return CopyTree(original, saved, failure);
}

// A new journal over an empty backup folder.
bool BeginBackup(FileFailure* failure) {
    const std::wstring backup = OrgPatchFolder();
    if (!MakeWayForNewBackup(failure)) {
        return false;
    }
    return MakeDirTree(backup.c_str(), failure) && MarkBackupBegun(failure);
}

}  // namespace

bool MergeTempPatches(const RepairPlan& plan, FileFailure* failure) {
    const std::wstring all = AllFolder();
    bool failed = false;
    for (const PlannedArchive& archive : plan.archives) {
        if (!MergeFolder(archive, all, failure)) {
            failed = true;
        }
    }
    return !plan.archives.empty() && !failed;
}

bool BackupOriginalPatches(FileFailure* failure) {
    FileFailure unread;
    RepairJournal journal = ReadRepairJournalWithMarks(&unread);
    // A backup still waiting to go back is the client's last whole state: what it holds stays
    // and only what is (again) in Documents joins it. Otherwise the backup starts afresh. A journal
    // that cannot be read accounts for nothing: its backup gives back what Documents lacks and is
    // set aside, never removed, and a new journal takes its place, so that it locks out no repair.
    if (!AsksForRestore(journal.state) || journal.state == RepairJournalState::Unreadable) {
        if (journal.state == RepairJournalState::Unreadable) {
            LogFailure(L"reading the repair journal before a new backup", unread);
        }
        if (!BeginBackup(failure)) {
            return false;
        }
        journal = ReadRepairJournalWithMarks();
    }
    const bool taking = journal.state == RepairJournalState::BackupBegun;
    bool failed = false;
    for (const std::wstring& sub : PatchSubFolderNames()) {
        if (PlaceOfOriginal(journal, sub) == OriginalPlace::Documents &&
            !BackUpFolder(sub, taking, failure)) {
            failed = true;
        }
    }
    if (failed) {
        return false;
    }
    return !taking || MarkBackupComplete(failure);
}

bool RemoveLeftoverPatches(FileFailure* failure) {
    const std::wstring documents = DocumentsFolder();
    bool failed = false;
    for (const std::wstring& sub : PatchSubFolderNames()) {
        // A missing folder is normal; one that survives its deletion is not.
        if (!EnsureNoDirTree(JoinPath(documents, sub), failure)) {
            failed = true;
        }
    }
    return !failed;
}
