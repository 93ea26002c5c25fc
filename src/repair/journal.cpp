// The repair journal in TmpPatch. It is written line by line and flushed before the step it
// announces; a reader trusts only whole lines in their order, so a write cut short by a crash
// reads as the state before it.
#include "repair/journal.h"

#include <cerrno>
#include <string>

#include "fsutil/file_failure.h"
#include "fsutil/paths.h"
#include "fsutil/text.h"
#include "layout/folders.h"
#include "platform/owners.h"
#include "platform/win32.h"

namespace {

const char kBackupBegunLine[] = "backup begun";
const char kBackupCompleteLine[] = "backup complete";
const char kRemovalBegunLine[] = "removal begun";
const char kInstallCompleteLine[] = "install complete";
const char kMovingPrefix[] = "moving ";
const char kRestoringPrefix[] = "restoring ";

// The journal holds a few short lines; anything longer is not ours and reads as untrusted text.
const size_t kMaxJournalBytes = 4096;

// What the trusted part of a journal says, and how many lines it took.
struct Parsed {
    RepairJournal journal;
    size_t lines = 0;
};

// The patch folder a "moving " or "restoring " line names; empty when it names none of the four.
std::wstring FolderNamed(const std::string& line, const char* prefix) {
    const std::string start(prefix);
    if (line.compare(0, start.size(), start) != 0) {
        return std::wstring();
    }
    std::wstring name;
    AnsiToWide(line.substr(start.size()), name);
    for (const std::wstring& sub : PatchSubFolderNames()) {
        if (name == sub) {
            return name;
        }
    }
    return std::wstring();
}

// The lines that move the journal from one state to the next.
struct Transition {
    RepairJournalState from;
    const char* line;
    RepairJournalState to;
};
const Transition kTransitions[] = {
    {RepairJournalState::None, kBackupBegunLine, RepairJournalState::BackupBegun},
    // A journal of a version that copied the backup starts at "backup complete".
    {RepairJournalState::None, kBackupCompleteLine, RepairJournalState::BackupComplete},
    {RepairJournalState::BackupBegun, kBackupCompleteLine, RepairJournalState::BackupComplete},
    {RepairJournalState::BackupComplete, kRemovalBegunLine, RepairJournalState::RemovalBegun},
    {RepairJournalState::RemovalBegun, kInstallCompleteLine, RepairJournalState::InstallComplete},
};

// Applies one whole line; false when it does not follow from the journal so far.
bool Follow(RepairJournal& journal, const std::string& line) {
    using State = RepairJournalState;
    const State state = journal.state;
    // Folders move while the backup is taken, completed or put back.
    if (state == State::BackupBegun || state == State::BackupComplete ||
        state == State::RemovalBegun) {
        if (const std::wstring sub = FolderNamed(line, kMovingPrefix); !sub.empty()) {
            journal.marks[sub] = FolderMark::Moving;
            return true;
        }
        if (const std::wstring sub = FolderNamed(line, kRestoringPrefix); !sub.empty()) {
            journal.marks[sub] = FolderMark::Restoring;
            return true;
        }
    }
    for (const Transition& transition : kTransitions) {
        if (transition.from == state && line == transition.line) {
            journal.state = transition.to;
            return true;
        }
    }
    return false;
}

// Walks the whole lines in order; the first one that does not follow ends the trusted part, and
// a last line without its line end was cut short.
Parsed Parse(const std::string& text) {
    Parsed parsed;
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        if (!Follow(parsed.journal, text.substr(start, end - start))) {
            break;
        }
        ++parsed.lines;
        start = end + 1;
    }
    return parsed;
}

Parsed ReadParsed() {
    Parsed parsed;
    const UniqueFile file(_wfopen(RepairJournalPath().c_str(), L"rb"));
    if (!file) {
        if (PathExists(RepairJournalPath())) {
            parsed.journal.state = RepairJournalState::Unreadable;
        }
        return parsed;
    }
    std::string text(kMaxJournalBytes, '\0');
    const size_t got = fread(&text[0], 1, text.size(), file.get());
    if (ferror(file.get())) {
        parsed.journal.state = RepairJournalState::Unreadable;
        return parsed;
    }
    text.resize(got);
    return Parse(text);
}

// Writes one line with the given _wfopen mode, through to the system; false when any of it
// failed (a full disk shows up at the flush or the close).
bool WriteJournalLine(const wchar_t* mode, const std::string& line, FileFailure* failure) {
    const std::wstring path = RepairJournalPath();
    UniqueFile file(_wfopen(path.c_str(), mode));
    if (!file) {
        NoteCrtFailure(failure, L"_wfopen", path, errno);
        return false;
    }
    const std::string text = line + "\n";
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

// Reads the journal back after a write: true when it trusts exactly `lines` lines and reads as
// `state`.
bool ReadsBackAs(size_t lines, RepairJournalState state, FileFailure* failure) {
    const Parsed after = ReadParsed();
    if (after.lines == lines && after.journal.state == state) {
        return true;
    }
    NoteCrtFailure(failure, L"fread", RepairJournalPath(), EIO);
    return false;
}

// Appends a line that must follow the journal as it stands, and reads it back: true only when the
// journal now trusts exactly one line more.
bool Append(const std::string& line, FileFailure* failure) {
    const Parsed before = ReadParsed();
    RepairJournal expected = before.journal;
    if (before.journal.state == RepairJournalState::Unreadable || !Follow(expected, line)) {
        NoteCrtFailure(failure, L"fread", RepairJournalPath(), EIO);
        return false;
    }
    return WriteJournalLine(L"ab", line, failure) &&
           ReadsBackAs(before.lines + 1, expected.state, failure);
}

std::string FolderLine(const char* prefix, const std::wstring& sub) {
    std::string name;
    return prefix + WideToAnsi(sub, name);
}

bool CreateEmptyJournal() {
    UniqueFile file(_wfopen(RepairJournalPath().c_str(), L"wb"));
    return file && file.close();
}

}  // namespace

FolderMark RepairJournal::MarkOf(const std::wstring& sub) const {
    const auto found = marks.find(sub);
    return found == marks.end() ? FolderMark::None : found->second;
}

OriginalPlace PlaceOfOriginal(const RepairJournal& journal, const std::wstring& sub) {
    const bool saved = PathExists(JoinPath(OrgPatchFolder(), sub));
    const bool inDocuments = PathExists(JoinPath(DocumentsFolder(), sub));
    const OriginalPlace unlessSaved =
        inDocuments ? OriginalPlace::Documents : OriginalPlace::Nowhere;
    const FolderMark mark = journal.MarkOf(sub);
    if (journal.state == RepairJournalState::BackupBegun) {
        // Documents loses a folder only by a whole move; a copy may have stopped half way, and
        // then the folder in Documents is the whole one. Once a restore is announced, the backup
        // is whole and Documents may hold a part of it.
        if (mark == FolderMark::Restoring && saved) {
            return OriginalPlace::Backup;
        }
        if (mark == FolderMark::Moving && saved && !inDocuments) {
            return OriginalPlace::Backup;
        }
        return unlessSaved;
    }
    // The backup is whole: what it holds is the client's. A folder it lacks was moved back (or its
    // move never happened) when a line names it, and was never the client's otherwise.
    if (saved) {
        return OriginalPlace::Backup;
    }
    return mark != FolderMark::None ? unlessSaved : OriginalPlace::Nowhere;
}

bool MarkBackupBegun(FileFailure* failure) {
    return WriteJournalLine(L"wb", kBackupBegunLine, failure) &&
           ReadsBackAs(1, RepairJournalState::BackupBegun, failure);
}

bool MarkFolderMoving(const std::wstring& sub, FileFailure* failure) {
    return Append(FolderLine(kMovingPrefix, sub), failure);
}

bool MarkFolderRestoring(const std::wstring& sub, FileFailure* failure) {
    return Append(FolderLine(kRestoringPrefix, sub), failure);
}

bool MarkBackupComplete(FileFailure* failure) {
    // Only on top of a journal whose backup began: a new journal must not pass for a backup.
    return ReadRepairJournal() == RepairJournalState::BackupBegun &&
           Append(kBackupCompleteLine, failure);
}

bool MarkRemovalBegun(FileFailure* failure) {
    // A pending backup completed by a new repair may have got this far already.
    if (ReadRepairJournal() == RepairJournalState::RemovalBegun) {
        return true;
    }
    return Append(kRemovalBegunLine, failure);
}

bool MarkInstallComplete(FileFailure* failure) {
    if (Append(kInstallCompleteLine, failure)) {
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

RepairJournal ReadRepairJournalWithMarks() {
    return ReadParsed().journal;
}

RepairJournalState ReadRepairJournal() {
    return ReadParsed().journal.state;
}

bool RestorePending() {
    return AsksForRestore(ReadRepairJournal());
}

bool AsksForRestore(RepairJournalState state) {
    switch (state) {
        case RepairJournalState::BackupBegun:
        case RepairJournalState::BackupComplete:
        case RepairJournalState::RemovalBegun:
        case RepairJournalState::Unreadable:
            return true;
        default:
            return false;
    }
}
