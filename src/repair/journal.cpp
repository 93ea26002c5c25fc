// The repair journal in TmpPatch. It is written line by line and flushed before the step it
// announces; a reader trusts only whole lines in their order, so a write cut short by a crash
// reads as the state before it.
#include "repair/journal.h"

#include <cerrno>
#include <string>

#include "fsutil/file_failure.h"
#include "fsutil/paths.h"
#include "layout/folders.h"
#include "platform/owners.h"
#include "platform/win32.h"

namespace {

const char kBackupCompleteLine[] = "backup complete";
const char kRemovalBegunLine[] = "removal begun";
const char kInstallCompleteLine[] = "install complete";

// The journal holds a few short lines; anything longer is not ours and reads as untrusted text.
const size_t kMaxJournalBytes = 4096;

// Writes one line with the given _wfopen mode, through to the system; false when any of it
// failed (a full disk shows up at the flush or the close).
bool WriteJournalLine(const wchar_t* mode, const char* line, FileFailure* failure) {
    const std::wstring path = RepairJournalPath();
    UniqueFile file(_wfopen(path.c_str(), mode));
    if (!file) {
        NoteCrtFailure(failure, L"_wfopen", path, errno);
        return false;
    }
    const std::string text = std::string(line) + "\n";
    const bool written =
        fwrite(text.data(), 1, text.size(), file.get()) == text.size() && fflush(file.get()) == 0;
    const int writeError = errno;
    const bool closed = file.close();
    if (!written || !closed) {
        NoteCrtFailure(failure, L"fwrite", path, written ? errno : writeError);
        return false;
    }
    return true;
}

// After a line was written, the journal must read as the state it announces.
bool ReadsAs(RepairJournalState state, FileFailure* failure) {
    if (ReadRepairJournal() == state) {
        return true;
    }
    NoteCrtFailure(failure, L"fread", RepairJournalPath(), EIO);
    return false;
}

// The state a whole line leads to from `state`; `state` itself when the line does not follow.
RepairJournalState Next(RepairJournalState state, const std::string& line) {
    if (state == RepairJournalState::None && line == kBackupCompleteLine) {
        return RepairJournalState::BackupComplete;
    }
    if (state == RepairJournalState::BackupComplete && line == kRemovalBegunLine) {
        return RepairJournalState::RemovalBegun;
    }
    if (state == RepairJournalState::RemovalBegun && line == kInstallCompleteLine) {
        return RepairJournalState::InstallComplete;
    }
    return state;
}

// Walks the whole lines in order; the first one that does not follow ends the trusted part, and
// a last line without its line end was cut short.
RepairJournalState StateOf(const std::string& text) {
    RepairJournalState state = RepairJournalState::None;
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        const RepairJournalState next = Next(state, text.substr(start, end - start));
        if (next == state) {
            break;
        }
        state = next;
        start = end + 1;
    }
    return state;
}

bool JournalExists() {
    return PathExists(RepairJournalPath());
}

bool CreateEmptyJournal() {
    UniqueFile file(_wfopen(RepairJournalPath().c_str(), L"wb"));
    return file && file.close();
}

}  // namespace

bool MarkBackupComplete(FileFailure* failure) {
    return WriteJournalLine(L"wb", kBackupCompleteLine, failure) &&
           ReadsAs(RepairJournalState::BackupComplete, failure);
}

bool MarkRemovalBegun(FileFailure* failure) {
    // Only on top of a whole "backup complete": the removal must never be announced without it.
    return ReadsAs(RepairJournalState::BackupComplete, failure) &&
           WriteJournalLine(L"ab", kRemovalBegunLine, failure) &&
           ReadsAs(RepairJournalState::RemovalBegun, failure);
}

bool MarkInstallComplete(FileFailure* failure) {
    if (ReadsAs(RepairJournalState::RemovalBegun, failure) &&
        WriteJournalLine(L"ab", kInstallCompleteLine, failure) &&
        ReadsAs(RepairJournalState::InstallComplete, failure)) {
        return true;
    }
    // A journal without the line must not survive to ask for a restore: removed, or else emptied.
    if (ClearRepairJournal() || CreateEmptyJournal()) {
        return !RestorePending();
    }
    return false;
}

bool ClearRepairJournal() {
    const std::wstring path = RepairJournalPath();
    return DeleteFileW(path.c_str()) || !PathExists(path);
}

RepairJournalState ReadRepairJournal() {
    const UniqueFile file(_wfopen(RepairJournalPath().c_str(), L"rb"));
    if (!file) {
        return JournalExists() ? RepairJournalState::Unreadable : RepairJournalState::None;
    }
    std::string text(kMaxJournalBytes, '\0');
    const size_t got = fread(&text[0], 1, text.size(), file.get());
    if (ferror(file.get())) {
        return RepairJournalState::Unreadable;
    }
    text.resize(got);
    return StateOf(text);
}

bool RestorePending() {
    const RepairJournalState state = ReadRepairJournal();
    return state == RepairJournalState::RemovalBegun || state == RepairJournalState::Unreadable;
}
