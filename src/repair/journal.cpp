// The repair journal in TmpPatch. Each record is one line, written through Win32 and flushed to
// the disk before the step it announces; a reader trusts only whole lines in their order, so a
// record cut short by a crash reads as the state before it, and the next record is written over
// it. A record that says where folders are (the backup complete, the removal begun, the install
// or the restore complete) is written only once they are on the disk.
#include "repair/journal.h"

#include <cstdint>
#include <string>

#include "fsutil/file_failure.h"
#include "fsutil/flush.h"
#include "fsutil/paths.h"
#include "fsutil/text.h"
#include "layout/folders.h"
#include "platform/owners.h"
#include "platform/win32.h"
#include "repair/durability.h"
#include "state/app_state.h"

namespace {

const char kBackupBegunLine[] = "backup begun";
const char kBackupCompleteLine[] = "backup complete";
const char kRemovalBegunLine[] = "removal begun";
const char kInstallCompleteLine[] = "install complete";
const char kRestoreCompleteLine[] = "restore complete";
const char kMovingPrefix[] = "moving ";
const char kRestoringPrefix[] = "restoring ";

// The journal holds a few short lines; anything longer is not ours and reads as untrusted text.
const size_t kMaxJournalBytes = 4096;

// What the trusted part of a journal says, and how many lines and bytes it took.
struct Parsed {
    RepairJournal journal;
    size_t lines = 0;
    size_t bytes = 0;
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
    // The backup went back whole, wherever the repair stopped.
    {RepairJournalState::BackupBegun, kRestoreCompleteLine, RepairJournalState::RestoreComplete},
    {RepairJournalState::BackupComplete, kRestoreCompleteLine, RepairJournalState::RestoreComplete},
    {RepairJournalState::RemovalBegun, kRestoreCompleteLine, RepairJournalState::RestoreComplete},
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
        parsed.bytes = start;
    }
    return parsed;
}

// The whole journal, or its first kMaxJournalBytes; false when a read fails, so that a journal
// is never taken for a shorter one.
bool ReadAll(HANDLE file, std::string* text) {
    char buffer[1024];
    DWORD got = 0;
    while (text->size() < kMaxJournalBytes) {
        if (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) == FALSE) {
            return false;
        }
        if (got == 0) {
            break;
        }
        text->append(buffer, got);
    }
    return true;
}

UniqueHandle OpenJournal(DWORD access, DWORD disposition) {
    return UniqueHandle(CreateFileW(RepairJournalPath().c_str(), access, FILE_SHARE_READ, nullptr,
                                    disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The journal as it reads; Unreadable, with the failing call in `failure`, when it is there but
// cannot be opened or read to the end.
Parsed ReadParsed(FileFailure* failure = nullptr) {
    Parsed parsed;
    const UniqueHandle file = OpenJournal(GENERIC_READ, OPEN_EXISTING);
    std::string text;
    if (!file.valid() || !ReadAll(file.get(), &text)) {
        const wchar_t* call = file.valid() ? L"ReadFile" : L"CreateFileW";
        const DWORD error = GetLastError();
        if (file.valid() || PathExists(RepairJournalPath())) {
            SetLastError(error);
            NoteFailure(failure, call, RepairJournalPath());
            parsed.journal.state = RepairJournalState::Unreadable;
        }
        return parsed;
    }
    return Parse(text);
}

// A journal that does not read as the records written say.
bool NoteUnexpected(FileFailure* failure) {
    NoteRefusal(failure, L"a journal that reads back as written", RepairJournalPath(),
                ERROR_INVALID_DATA);
    return false;
}

// Writes a record at `offset` of the open journal over whatever stood there (a record cut short),
// cuts off the rest and puts it on the disk.
bool WriteRecord(HANDLE file, size_t offset, const std::string& line, FileFailure* failure) {
    const std::wstring path = RepairJournalPath();
    const std::string text = line + "\n";
    LARGE_INTEGER at;
    at.QuadPart = static_cast<int64_t>(offset);
    DWORD written = 0;
    if (SetFilePointerEx(file, at, nullptr, FILE_BEGIN) == FALSE) {
        NoteFailure(failure, L"SetFilePointerEx", path);
        return false;
    }
    if (WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) == FALSE ||
        SetEndOfFile(file) == FALSE) {
        NoteFailure(failure, L"WriteFile", path);
        return false;
    }
    return FlushHandleToDisk(file, path, failure);
}

// Cuts the journal back to `offset`, as far as the system lets it.
void CutBack(HANDLE file, size_t offset) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<int64_t>(offset);
    if (SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != FALSE) {
        SetEndOfFile(file);
    }
}

bool CloseJournal(UniqueHandle& file, FileFailure* failure) {
    if (!file.close()) {
        NoteFailure(failure, L"CloseHandle", RepairJournalPath());
        return false;
    }
    return true;
}

// Reads the journal back after a write: true when it trusts exactly `lines` lines and reads as
// `state`.
bool ReadsBackAs(size_t lines, RepairJournalState state, FileFailure* failure) {
    const Parsed after = ReadParsed(failure);
    return (after.lines == lines && after.journal.state == state) || NoteUnexpected(failure);
}

// The client folder, without its trailing separator, where TmpPatch's own name is.
std::wstring ClientFolder() {
    std::wstring folder = g_exeDir;
    while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) {
        folder.pop_back();
    }
    return folder;
}

// A new journal holding one record. Its name in TmpPatch, and TmpPatch's in the client folder,
// go to the disk too: the record is no use in a file the disk does not know.
bool StartJournal(const std::string& line, FileFailure* failure) {
    UniqueHandle file = OpenJournal(GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
    if (!file.valid()) {
        NoteFailure(failure, L"CreateFileW", RepairJournalPath());
        return false;
    }
    return WriteRecord(file.get(), 0, line, failure) && CloseJournal(file, failure) &&
           FlushFolderEntries(TmpPatchFolder(), failure) &&
           FlushFolderEntries(ClientFolder(), failure) &&
           ReadsBackAs(1, RepairJournalState::BackupBegun, failure);
}

// Appends a record that must follow the journal as it stands, over a record cut short, and reads
// it back: true only when the journal now trusts exactly one line more.
bool Append(const std::string& line, FileFailure* failure) {
    UniqueHandle file = OpenJournal(GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    if (!file.valid()) {
        NoteFailure(failure, L"CreateFileW", RepairJournalPath());
        return false;
    }
    std::string text;
    if (!ReadAll(file.get(), &text)) {
        NoteFailure(failure, L"ReadFile", RepairJournalPath());
        return false;
    }
    const Parsed before = Parse(text);
    RepairJournal expected = before.journal;
    if (!Follow(expected, line)) {
        return NoteUnexpected(failure);
    }
    if (!WriteRecord(file.get(), before.bytes, line, failure)) {
        // A record that may not be on the disk must not be read as made either.
        CutBack(file.get(), before.bytes);
        return false;
    }
    return CloseJournal(file, failure) && ReadsBackAs(before.lines + 1, expected.state, failure);
}

std::string FolderLine(const char* prefix, const std::wstring& sub) {
    std::string name;
    return prefix + WideToAnsi(sub, name);
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
    return StartJournal(kBackupBegunLine, failure);
}

bool MarkFolderMoving(const std::wstring& sub, FileFailure* failure) {
    return Append(FolderLine(kMovingPrefix, sub), failure);
}

bool MarkFolderRestoring(const std::wstring& sub, FileFailure* failure) {
    return Append(FolderLine(kRestoringPrefix, sub), failure);
}

bool MarkBackupComplete(FileFailure* failure) {
    // Only on top of a journal whose backup began: a new journal must not pass for a backup.
    if (ReadRepairJournal() != RepairJournalState::BackupBegun) {
        return NoteUnexpected(failure);
    }
    return FlushPatchFolders(failure) && Append(kBackupCompleteLine, failure);
}

bool MarkRemovalBegun(FileFailure* failure) {
    // A pending backup completed by a new repair may have got this far already.
    if (ReadRepairJournal() == RepairJournalState::RemovalBegun) {
        return true;
    }
    return FlushPatchFolders(failure) && Append(kRemovalBegunLine, failure);
}

bool MarkInstallComplete(FileFailure* failure) {
    return FlushPatchFolders(failure) && Append(kInstallCompleteLine, failure);
}

bool MarkRestoreComplete(FileFailure* failure) {
    return FlushPatchFolders(failure) && Append(kRestoreCompleteLine, failure);
}

bool ClearRepairJournal() {
    const std::wstring path = RepairJournalPath();
    return DeleteFileW(path.c_str()) || !PathExists(path);
}

RepairJournal ReadRepairJournalWithMarks(FileFailure* failure) {
    return ReadParsed(failure).journal;
}

RepairJournalState ReadRepairJournal() {
    return ReadParsed().journal.state;
}

bool RestorePending() {
    return AsksForRestore(ReadRepairJournal());
}

bool BackupObsolete(RepairJournalState state) {
    return state == RepairJournalState::InstallComplete ||
           state == RepairJournalState::RestoreComplete;
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
