// The repair journal: its marks in order, which of them a reader trusts after a write cut short,
// that each is on the disk before the step it announces (after the folders it speaks of), where
// each patch folder's original is by the journal and what exists, and a journal that cannot be
// read.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "fsutil/file_failure.h"
#include "platform/posix/syscalls.h"
#include "repair/journal.h"
#include "repair_fixture.h"

namespace {

const char kRemovalBegun[] = "backup begun\nmoving pkres\nbackup complete\nremoval begun\n";

// What a descriptor is, for the calls it sees: the journal, a folder of the client, or a file.
std::string Named(int fd) {
    char path[4096] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(link.c_str(), path, sizeof(path) - 1);
    const std::string name = length > 0 ? std::string(path, static_cast<size_t>(length)) : "";
    if (name.size() >= 15 && name.compare(name.size() - 15, 15, "/repair.journal") == 0) {
        return "journal";
    }
    if (name.size() >= 9 && name.compare(name.size() - 9, 9, "/TmpPatch") == 0) {
        return "TmpPatch";
    }
    return name.find("/TmpPatch") == std::string::npos ? "client" : name;
}

class JournalTest : public RepairFolderTest {
  protected:
    void SetUp() override {
        RepairFolderTest::SetUp();
        MakeFolder("TmpPatch");
    }
    void TearDown() override {
        qx::ClearFaults();
        qx::ResetSyscalls();
    }

    void WriteJournal(const std::string& text) const { Write("TmpPatch/repair.journal", text); }
    std::string JournalText() const { return Read("TmpPatch/repair.journal"); }
    bool JournalExists() const { return Exists("TmpPatch/repair.journal"); }
    void SetFolder(const std::string& relative, bool present) const {
        if (present) {
            MakeFolder(relative);
        } else {
            std::filesystem::remove_all(client_.host(relative));
        }
    }
};

TEST_F(JournalTest, MarksFollowTheRepairInOrder) {
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::None);
    EXPECT_FALSE(RestorePending());
    // Nothing is announced without the backup begun before it.
    EXPECT_FALSE(MarkFolderMoving(L"pkres"));
    EXPECT_FALSE(MarkBackupComplete());
    EXPECT_FALSE(MarkRemovalBegun());
    EXPECT_FALSE(JournalExists());

    ASSERT_TRUE(MarkBackupBegun());
    EXPECT_TRUE(RestorePending());
    ASSERT_TRUE(MarkFolderMoving(L"pkres"));
    EXPECT_FALSE(MarkFolderMoving(L"Documents"));  // only the four patch folders
    EXPECT_FALSE(MarkRemovalBegun());
    ASSERT_TRUE(MarkBackupComplete());
    ASSERT_TRUE(MarkRemovalBegun());
    ASSERT_TRUE(MarkRemovalBegun());  // a pending backup completed again: no second line
    ASSERT_TRUE(MarkFolderRestoring(L"subver"));
    const RepairJournal journal = ReadRepairJournalWithMarks();
    EXPECT_EQ(journal.state, RepairJournalState::RemovalBegun);
    EXPECT_EQ(journal.MarkOf(L"pkres"), FolderMark::Moving);
    EXPECT_EQ(journal.MarkOf(L"subver"), FolderMark::Restoring);
    EXPECT_EQ(journal.MarkOf(L"qatools"), FolderMark::None);
    EXPECT_TRUE(RestorePending());

    ASSERT_TRUE(MarkInstallComplete());
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::InstallComplete);
    EXPECT_FALSE(RestorePending());
    EXPECT_EQ(JournalText(),
              "backup begun\nmoving pkres\nbackup complete\nremoval begun\nrestoring subver\n"
              "install complete\n");

    // A new repair starts a new journal.
    ASSERT_TRUE(MarkBackupBegun());
    EXPECT_EQ(JournalText(), "backup begun\n");
    EXPECT_TRUE(ClearRepairJournal());
    EXPECT_FALSE(JournalExists());
    EXPECT_TRUE(ClearRepairJournal());  // nothing left to clear is no failure
}

// A crash while a line is written leaves part of it: only whole lines in their order count, so
// the journal reads as the state before that write.
TEST_F(JournalTest, OnlyWholeLinesInTheirOrderAreTrusted) {
    using State = RepairJournalState;
    const std::vector<std::pair<std::string, State>> cases = {
        {"", State::None},
        {"backup beg", State::None},
        {"backup begun", State::None},
        {"backup begun\n", State::BackupBegun},
        {"backup begun\nmoving pkr", State::BackupBegun},
        {"backup begun\nmoving pkres\nbackup complete", State::BackupBegun},
        {"backup begun\nmoving pkres\nbackup complete\n", State::BackupComplete},
        {std::string(kRemovalBegun) + "install comp", State::RemovalBegun},
        {std::string(kRemovalBegun) + "install complete\n", State::InstallComplete},
        {std::string(kRemovalBegun) + "restoring pkres\ninstall complete\n",
         State::InstallComplete},
        // A journal of the version that copied its backup begins with "backup complete".
        {"backup complete\nremoval begun\n", State::RemovalBegun},
        {"removal begun\n", State::None},
        {"moving pkres\nbackup begun\n", State::None},
        {"backup begun\nremoval begun\n", State::BackupBegun},
        {"backup begun\nmoving Documents\nbackup complete\n", State::BackupBegun},
        {"backup begun\ninstall complete\n", State::BackupBegun},
        {std::string("backup begun\n\0backup complete\n", 30), State::BackupBegun},
    };
    for (const auto& item : cases) {
        WriteJournal(item.first);
        EXPECT_EQ(ReadRepairJournal(), item.second) << '"' << item.first << '"';
    }
}

TEST_F(JournalTest, AMarkThatCannotBeWrittenLeavesTheLastWholeOneAndATornOneIsWrittenOver) {
    qx::InjectFault(qx::Sys::Write, 1, ENOSPC, "repair.journal");
    FileFailure failure;
    EXPECT_FALSE(MarkBackupBegun(&failure));
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::None);
    EXPECT_EQ(failure.call, L"WriteFile");
    EXPECT_EQ(failure.error, static_cast<DWORD>(ERROR_DISK_FULL));

    ASSERT_TRUE(MarkBackupBegun());
    qx::InjectFault(qx::Sys::Write, 1, ENOSPC, "repair.journal");
    EXPECT_FALSE(MarkFolderMoving(L"pkres"));
    EXPECT_EQ(ReadRepairJournalWithMarks().MarkOf(L"pkres"), FolderMark::None);
    qx::InjectFault(qx::Sys::Fsync, 1, EIO, "repair.journal");
    EXPECT_FALSE(MarkFolderMoving(L"pkres"));  // not on the disk: the move must not be made

    // A record cut short by a crash is written over, so the next one counts.
    WriteJournal("backup begun\nmoving pk");
    EXPECT_TRUE(MarkFolderMoving(L"pkres"));
    EXPECT_EQ(JournalText(), "backup begun\nmoving pkres\n");
}

// Write-ahead: every record is on the disk before the step it announces, and one that says where
// folders are only after they are on the disk themselves (one flush of the volume).
TEST_F(JournalTest, EachMarkIsFlushedAndFollowsTheFlushOfTheFoldersItSpeaksOf) {
    static std::vector<std::string> calls;
    struct Case {
        const char* journal;
        bool (*mark)(FileFailure*);
        std::vector<std::string> calls;
    };
    const std::vector<std::string> record = {"write journal", "fsync journal"};
    const std::vector<std::string> afterFlush = {"syncfs", "write journal", "fsync journal"};
    const std::vector<Case> cases = {
        {"",
         [](FileFailure* f) { return MarkBackupBegun(f); },
         {"write journal", "fsync journal", "fsync TmpPatch", "fsync client"}},
        {"backup begun\n", [](FileFailure* f) { return MarkFolderMoving(L"pkres", f); }, record},
        {"backup begun\n", [](FileFailure* f) { return MarkBackupComplete(f); }, afterFlush},
        {"backup begun\nbackup complete\n", [](FileFailure* f) { return MarkRemovalBegun(f); },
         afterFlush},
        {kRemovalBegun, [](FileFailure* f) { return MarkFolderRestoring(L"pkres", f); }, record},
        {kRemovalBegun, [](FileFailure* f) { return MarkInstallComplete(f); }, afterFlush},
        {kRemovalBegun, [](FileFailure* f) { return MarkRestoreComplete(f); }, afterFlush},
    };
    const std::string client = client_.host();
    for (const Case& item : cases) {
        SCOPED_TRACE(item.journal);
        WriteJournal(item.journal);
        calls.clear();
        qx::Syscalls().write = [](int fd, const void* data, size_t size) {
            calls.push_back("write " + Named(fd));
            return ::write(fd, data, size);
        };
        qx::Syscalls().fsync = [](int fd) {
            calls.push_back("fsync " + Named(fd));
            return 0;
        };
        qx::Syscalls().syncfs = [](int) {
            calls.push_back("syncfs");
            return 0;
        };
        FileFailure failure;
        const bool marked = item.mark(&failure);
        qx::ResetSyscalls();
        EXPECT_TRUE(marked) << failure.call;
        EXPECT_EQ(calls, item.calls);
    }
}

// The mark of a finished install is written only once the patch folders are on the disk; when it
// cannot be, the repair is not finished and the journal still asks for the restore.
TEST_F(JournalTest, AnInstallThatCannotBeRecordedStillAsksForTheRestore) {
    struct Case {
        const char* name;
        const char* faults;
        bool recorded;
    };
    const std::vector<Case> cases = {
        {"written", "", true},
        // Where the volume cannot be flushed the folders go file by file.
        {"no volume", "syncfs:1:EIO", true},
        {"nothing can be flushed", "syncfs:1:EIO,fsync:1:EIO", false},
        {"the line refused", "write:1:ENOSPC:repair.journal", false},
        {"the line not flushed", "fsync:1:EIO:repair.journal", false},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        WriteJournal(kRemovalBegun);
        ASSERT_TRUE(qx::InjectFaults(item.faults));
        EXPECT_EQ(MarkInstallComplete(), item.recorded);
        qx::ClearFaults();
        EXPECT_EQ(RestorePending(), !item.recorded);
    }
}

// A journal that is there but cannot be read to its end may belong to a restore still to do: it
// counts as pending, never as the shorter journal its first part would be.
TEST_F(JournalTest, AJournalThatCannotBeReadCountsAsPending) {
    std::string longJournal = "backup begun\n";
    for (int i = 0; i < 100; ++i) {
        longJournal += "moving pkres\n";
    }
    longJournal += "backup complete\nremoval begun\ninstall complete\n";
    const std::vector<std::pair<const char*, RepairJournalState>> cases = {
        {"open:1:EACCES:repair.journal", RepairJournalState::Unreadable},
        {"read:1:EIO:repair.journal", RepairJournalState::Unreadable},
        {"read:2:EIO:repair.journal", RepairJournalState::Unreadable},
        {"read:9:EIO:repair.journal", RepairJournalState::InstallComplete},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.first);
        WriteJournal(longJournal);
        ASSERT_TRUE(qx::InjectFaults(item.first));
        FileFailure failure;
        EXPECT_EQ(ReadRepairJournalWithMarks(&failure).state, item.second);
        EXPECT_EQ(failure.Recorded(), item.second == RepairJournalState::Unreadable);
        qx::ClearFaults();
    }
    EXPECT_TRUE(AsksForRestore(RepairJournalState::Unreadable));
}

// Where the original of a folder is, after a crash at any point: a move is atomic, so the journal's
// last line about the folder and which of its two places exist tell it.
TEST_F(JournalTest, TheOriginalOfAFolderIsWhereTheJournalAndTheFoldersSay) {
    using Place = OriginalPlace;
    struct Case {
        const char* journal;
        bool saved;        // TmpPatch\OrgPatch\pkres exists
        bool inDocuments;  // Documents\pkres exists
        Place expected;
    };
    const std::vector<Case> cases = {
        // The backup is being taken: Documents loses a folder only by a whole move.
        {"backup begun\n", false, true, Place::Documents},
        {"backup begun\nmoving pkres\n", false, true, Place::Documents},  // not moved yet
        {"backup begun\nmoving pkres\n", true, false, Place::Backup},     // moved
        {"backup begun\nmoving pkres\n", true, true, Place::Documents},   // a copy half done
        {"backup begun\nmoving pkres\nrestoring pkres\n", true, true, Place::Backup},
        {"backup begun\nmoving pkres\nrestoring pkres\n", false, true, Place::Documents},
        {"backup begun\n", false, false, Place::Nowhere},
        // The backup is whole: what it holds is the client's.
        {"backup begun\nmoving pkres\nbackup complete\n", true, false, Place::Backup},
        {"backup begun\nmoving pkres\nbackup complete\nremoval begun\n", true, true, Place::Backup},
        {"backup begun\nbackup complete\nremoval begun\n", false, true, Place::Nowhere},
        // Put back by a restore, or moved in again by a new repair and not yet arrived.
        {"backup begun\nmoving pkres\nbackup complete\nremoval begun\nrestoring pkres\n", false,
         true, Place::Documents},
        {"backup begun\nmoving pkres\nbackup complete\nremoval begun\nrestoring pkres\n", true,
         false, Place::Backup},
        {"backup begun\nmoving pkres\nbackup complete\nremoval begun\nrestoring pkres\n"
         "moving pkres\n",
         false, true, Place::Documents},
    };
    for (const Case& item : cases) {
        WriteJournal(item.journal);
        SetFolder("TmpPatch/OrgPatch/pkres", item.saved);
        SetFolder("Documents/pkres", item.inDocuments);
        EXPECT_EQ(PlaceOfOriginal(ReadRepairJournalWithMarks(), L"pkres"), item.expected)
            << item.journal << " saved " << item.saved << " in Documents " << item.inDocuments;
    }
}

}  // namespace
