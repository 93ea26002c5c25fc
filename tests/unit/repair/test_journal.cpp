// The repair journal: its marks in order, which of them a reader trusts after a write cut short,
// and the mark of a finished install, which must hold even when the journal cannot be written or
// removed any more.
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
#include "state/app_state.h"
#include "support/temp_dir.h"

namespace {

class JournalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_exeDir = client_.win() + L"\\";
        std::filesystem::create_directories(client_.host("TmpPatch"));
    }
    void TearDown() override { qx::ClearFaults(); }

    void WriteJournal(const std::string& text) const {
        qxtest::WriteHostFile(client_.host("TmpPatch/repair.journal"), text);
    }
    std::string JournalText() const {
        return qxtest::ReadHostFile(client_.host("TmpPatch/repair.journal"));
    }
    bool JournalExists() const {
        return std::filesystem::exists(client_.host("TmpPatch/repair.journal"));
    }

    qxtest::TempDir client_;
};

TEST_F(JournalTest, MarksFollowTheRepairInOrder) {
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::None);
    EXPECT_FALSE(RestorePending());
    EXPECT_FALSE(MarkRemovalBegun());  // never without a complete backup before it
    EXPECT_FALSE(JournalExists());

    ASSERT_TRUE(MarkBackupComplete());
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::BackupComplete);
    EXPECT_FALSE(RestorePending());
    ASSERT_TRUE(MarkRemovalBegun());
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::RemovalBegun);
    EXPECT_TRUE(RestorePending());
    ASSERT_TRUE(MarkInstallComplete());
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::InstallComplete);
    EXPECT_FALSE(RestorePending());
    EXPECT_EQ(JournalText(), "backup complete\nremoval begun\ninstall complete\n");

    // A new repair starts a new journal.
    ASSERT_TRUE(MarkBackupComplete());
    EXPECT_EQ(JournalText(), "backup complete\n");

    EXPECT_TRUE(ClearRepairJournal());
    EXPECT_FALSE(JournalExists());
    EXPECT_TRUE(ClearRepairJournal());  // nothing left to clear is no failure
}

// A crash while a line is written leaves part of it: only whole lines in their order count, so
// the journal reads as the state before that write.
TEST_F(JournalTest, OnlyWholeLinesInTheirOrderAreTrusted) {
    const std::vector<std::pair<std::string, RepairJournalState>> cases = {
        {"", RepairJournalState::None},
        {"backup comp", RepairJournalState::None},
        {"backup complete", RepairJournalState::None},
        {"backup complete\n", RepairJournalState::BackupComplete},
        {"backup complete\nremoval beg", RepairJournalState::BackupComplete},
        {"backup complete\nremoval begun", RepairJournalState::BackupComplete},
        {"backup complete\nremoval begun\n", RepairJournalState::RemovalBegun},
        {"backup complete\nremoval begun\ninstall comp", RepairJournalState::RemovalBegun},
        {"backup complete\nremoval begun\ninstall complete\n", RepairJournalState::InstallComplete},
        {"removal begun\n", RepairJournalState::None},
        {"removal begun\nbackup complete\n", RepairJournalState::None},
        {"backup complete\ninstall complete\n", RepairJournalState::BackupComplete},
        {"backup complete\nremoval begun\nremoval begun\ninstall complete\n",
         RepairJournalState::RemovalBegun},
        {std::string("backup complete\n\0removal begun\n", 30), RepairJournalState::BackupComplete},
    };
    for (const auto& item : cases) {
        WriteJournal(item.first);
        EXPECT_EQ(ReadRepairJournal(), item.second) << '"' << item.first << '"';
    }
}

TEST_F(JournalTest, AFullDiskLeavesNoMarkBeyondTheLastWholeOne) {
    qx::InjectFault(qx::Sys::Write, 1, ENOSPC, "repair.journal");
    FileFailure failure;
    EXPECT_FALSE(MarkBackupComplete(&failure));
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::None);
    EXPECT_EQ(failure.call, L"fwrite");
    EXPECT_EQ(failure.error, static_cast<DWORD>(ERROR_DISK_FULL));

    ASSERT_TRUE(MarkBackupComplete());
    qx::InjectFault(qx::Sys::Write, 1, ENOSPC, "repair.journal");
    EXPECT_FALSE(MarkRemovalBegun());
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::BackupComplete);

    // A torn line stays in the file: the next mark appended after it must not count either.
    WriteJournal("backup complete\nremoval be");
    EXPECT_FALSE(MarkRemovalBegun());
    EXPECT_FALSE(RestorePending());
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
        WriteJournal("backup complete\nremoval begun\n");
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
    WriteJournal("backup complete\nremoval begun\ninstall complete\n");
    qx::InjectFault(qx::Sys::Open, 1, EACCES, "repair.journal");
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::Unreadable);
    qx::InjectFault(qx::Sys::Open, 1, EACCES, "repair.journal");
    EXPECT_TRUE(RestorePending());
    EXPECT_FALSE(RestorePending());
}

}  // namespace
