// The repair journal: its marks in order, which of them a reader trusts after a write cut short,
// where each patch folder's original is by the journal and what exists, and the mark of a
// finished install, which must hold even when the journal cannot be written or removed any more.
#include <gtest/gtest.h>
#include <sys/stat.h>

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

class JournalTest : public RepairFolderTest {
  protected:
    void SetUp() override {
        RepairFolderTest::SetUp();
        MakeFolder("TmpPatch");
    }
    void TearDown() override { qx::ClearFaults(); }

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

TEST_F(JournalTest, AFullDiskLeavesNoMarkBeyondTheLastWholeOne) {
    qx::InjectFault(qx::Sys::Write, 1, ENOSPC, "repair.journal");
    FileFailure failure;
    EXPECT_FALSE(MarkBackupBegun(&failure));
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::None);
    EXPECT_EQ(failure.call, L"fwrite");
    EXPECT_EQ(failure.error, static_cast<DWORD>(ERROR_DISK_FULL));

    ASSERT_TRUE(MarkBackupBegun());
    qx::InjectFault(qx::Sys::Write, 1, ENOSPC, "repair.journal");
    EXPECT_FALSE(MarkFolderMoving(L"pkres"));
    EXPECT_EQ(ReadRepairJournalWithMarks().MarkOf(L"pkres"), FolderMark::None);

    // A torn line stays in the file: a mark appended after it must not count either.
    WriteJournal("backup begun\nmoving pk");
    EXPECT_FALSE(MarkFolderMoving(L"pkres"));
    EXPECT_EQ(ReadRepairJournalWithMarks().MarkOf(L"pkres"), FolderMark::None);
}

// The install is finished; whatever happens to the journal now, it must never ask for a restore
// that would undo the repair.
TEST_F(JournalTest, AFinishedInstallNeverReadsAsARestoreToDo) {
    struct Case {
        const char* name;
        const char* faults;
        bool recorded;
        RepairJournalState after;
    };
    const std::vector<Case> cases = {
        {"written", "", true, RepairJournalState::InstallComplete},
        {"line refused, journal removed", "write:1:ENOSPC:repair.journal", true,
         RepairJournalState::None},
        {"line refused, not removable, emptied",
         "write:1:ENOSPC:repair.journal,unlink:1:EACCES:repair.journal", true,
         RepairJournalState::None},
        // A read-only journal can be neither appended to, nor removed, nor emptied.
        {"nothing works", "", false, RepairJournalState::RemovalBegun},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        WriteJournal(kRemovalBegun);
        qx::ClearFaults();
        ASSERT_TRUE(qx::InjectFaults(item.faults));
        if (!item.recorded) {
            chmod(client_.host("TmpPatch/repair.journal").c_str(), 0444);
        }
        const bool recorded = MarkInstallComplete();
        qx::ClearFaults();
        chmod(client_.host("TmpPatch/repair.journal").c_str(), 0644);
        EXPECT_EQ(recorded, item.recorded);
        EXPECT_EQ(ReadRepairJournal(), item.after);
        EXPECT_EQ(RestorePending(), !item.recorded);
    }
}

// A journal that is there but cannot be read may belong to a restore still to do: it counts as
// pending, so that its backup is kept (and never put back blindly).
TEST_F(JournalTest, AJournalThatCannotBeReadCountsAsPending) {
    WriteJournal(std::string(kRemovalBegun) + "install complete\n");
    qx::InjectFault(qx::Sys::Open, 1, EACCES, "repair.journal");
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::Unreadable);
    qx::InjectFault(qx::Sys::Open, 1, EACCES, "repair.journal");
    EXPECT_TRUE(RestorePending());
    EXPECT_FALSE(RestorePending());
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
