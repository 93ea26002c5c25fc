// The repair journal in TmpPatch and the start-up recovery that reads it. The journal is written
// line by line and flushed before the step it announces; a reader trusts only whole lines in
// their order, so a write cut short by a crash reads as the state before it.
#include "repair/journal.h"

#include <cstring>

#include "fsutil/dirtree.h"
#include "fsutil/paths.h"
#include "layout/folders.h"
#include "platform/owners.h"
#include "platform/win32.h"
#include "repair/install_stages.h"
#include "state/log.h"

namespace {

const char kBackupCompleteLine[] = "backup complete\n";
const char kRemovalBegunLine[] = "removal begun\n";

// Writes one line with the given _wfopen mode, through to the system; false when any of it
// failed (a full disk shows up at the flush or the close).
bool WriteJournalLine(const wchar_t* mode, const char* line) {
    UniqueFile file(_wfopen(RepairJournalPath().c_str(), mode));
    if (!file) {
        return false;
    }
    const size_t length = std::strlen(line);
    const bool written = fwrite(line, 1, length, file.get()) == length && fflush(file.get()) == 0;
    const bool closed = file.close();
    return written && closed;
}

// The start of the journal; it only ever holds two short lines.
std::string ReadJournalText() {
    const UniqueFile file(_wfopen(RepairJournalPath().c_str(), L"rb"));
    if (!file) {
        return std::string();
    }
    char buffer[64];
    const size_t got = fread(buffer, 1, sizeof(buffer), file.get());
    return std::string(buffer, got);
}

bool StartsWithAt(const std::string& text, size_t offset, const char* line) {
    const size_t length = std::strlen(line);
    return text.size() >= offset + length && text.compare(offset, length, line) == 0;
}

}  // namespace

bool MarkBackupComplete() {
    return WriteJournalLine(L"wb", kBackupCompleteLine);
}

bool MarkRemovalBegun() {
    // Only on top of a whole "backup complete": the removal must never be announced without it.
    if (ReadRepairJournal() != RepairJournalState::BackupComplete) {
        return false;
    }
    return WriteJournalLine(L"ab", kRemovalBegunLine) &&
           ReadRepairJournal() == RepairJournalState::RemovalBegun;
}

bool ClearRepairJournal() {
    const std::wstring path = RepairJournalPath();
    return DeleteFileW(path.c_str()) || !PathExists(path);
}

RepairJournalState ReadRepairJournal() {
    const std::string text = ReadJournalText();
    if (!StartsWithAt(text, 0, kBackupCompleteLine)) {
        return RepairJournalState::None;
    }
    if (!StartsWithAt(text, std::strlen(kBackupCompleteLine), kRemovalBegunLine)) {
        return RepairJournalState::BackupComplete;
    }
    return RepairJournalState::RemovalBegun;
}

bool PutBackupBack() {
    const std::wstring documents = DocumentsFolder();
    const std::wstring backup = OrgPatchFolder();
    bool removed = true;
    for (const std::wstring& sub : PatchSubFolderNames()) {
        if (IsAnyDirectory(JoinPath(backup, sub))) {
            continue;  // RestoreOriginalPatches brings this one back
        }
        if (!EnsureNoDirTree(JoinPath(documents, sub))) {
            removed = false;
        }
    }
    const bool restored = RestoreOriginalPatches();
    return removed && restored;
}

bool RecoverInterruptedRepair() {
    if (ReadRepairJournal() != RepairJournalState::RemovalBegun) {
        return true;  // Documents was never touched: TmpPatch may simply be emptied
    }
    LogWrite(g_log, L"an earlier repair stopped after removing the patch folders: restoring them");
    if (!PutBackupBack()) {
        LogWrite(g_log, L"the patch folders could not all be restored; TmpPatch is kept");
        return false;
    }
    // The mark goes before TmpPatch is emptied: a deletion cut short must not leave it beside
    // a partial backup, which a later start would then restore.
    if (!ClearRepairJournal()) {
        LogWrite(g_log, L"the repair journal could not be removed; TmpPatch is kept");
        return false;
    }
    return true;
}
