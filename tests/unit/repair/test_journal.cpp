// The repair journal and the start-up recovery: which marks are trusted after a write cut short,
// and how a start after a crash puts the backup back into Documents before TmpPatch is emptied.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/syscalls.h"
#include "repair/download_stage.h"
#include "repair/journal.h"
#include "state/app_state.h"
#include "support/temp_dir.h"
#include "repair_fixture.h"

namespace {

using Tree = std::map<std::string, std::string>;

class JournalTest : public RepairFolderTest {
  protected:
    void SetUp() override {
        RepairFolderTest::SetUp();
        MakeFolder("TmpPatch/All");
        MakeFolder("Documents");
    }
    void TearDown() override { qx::ClearFaults(); }

    // The client's patch folders before a repair, and the same in the backup.
    void MakeOldDocumentsAndBackup() const {
        for (const char* root : {"Documents", "TmpPatch/OrgPatch"}) {
            const std::string base(root);
            Write(base + "/pkres/a.pk", "old a");
            Write(base + "/pkres/sub/b.pk", "old b");
            Write(base + "/subver/ver.txt", "1.0.0");
            Write(base + "/patch_cache/c.bin", "cache");
        }
        Write("Documents/settings.ini", "mine");
    }

    // What a crash in the middle of the install copy leaves: the old folders removed, one of
    // them partly installed again, a new file beside them.
    void CrashDuringInstall() const {
        std::filesystem::remove_all(client_.host("Documents/pkres"));
        std::filesystem::remove_all(client_.host("Documents/subver"));
        std::filesystem::remove_all(client_.host("Documents/patch_cache"));
        Write("Documents/pkres/a.pk", "new a");
        Write("Documents/qatools/t.txt", "new tool");
    }
};

TEST_F(JournalTest, MarksFollowTheRepairInOrderAndClearingRemovesTheFile) {
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::None);
    EXPECT_FALSE(MarkRemovalBegun());  // never without a complete backup before it
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::None);

    ASSERT_TRUE(MarkBackupComplete());
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::BackupComplete);
    ASSERT_TRUE(MarkRemovalBegun());
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::RemovalBegun);
    EXPECT_EQ(Read("TmpPatch/repair.journal"), "backup complete\nremoval begun\n");

    EXPECT_TRUE(ClearRepairJournal());
    EXPECT_FALSE(Exists("TmpPatch/repair.journal"));
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::None);
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
        {"removal begun\n", RepairJournalState::None},
        {"removal begun\nbackup complete\n", RepairJournalState::None},
    };
    for (const auto& item : cases) {
        Write("TmpPatch/repair.journal", item.first);
        EXPECT_EQ(ReadRepairJournal(), item.second) << '"' << item.first << '"';
    }
}

TEST_F(JournalTest, AFullDiskLeavesNoMarkBeyondTheLastWholeOne) {
    qx::InjectFault(qx::Sys::Write, 1, ENOSPC, "repair.journal");
    EXPECT_FALSE(MarkBackupComplete());
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::None);

    ASSERT_TRUE(MarkBackupComplete());
    qx::InjectFault(qx::Sys::Write, 1, ENOSPC, "repair.journal");
    EXPECT_FALSE(MarkRemovalBegun());
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::BackupComplete);
}

// Start-up as the entry runs it: the recovery, then the temporary folder is emptied.
TEST_F(JournalTest, StartAfterACrashDuringTheInstallPutsTheBackupBackThenEmptiesTmpPatch) {
    MakeOldDocumentsAndBackup();
    const Tree old = Snapshot("Documents");
    CrashDuringInstall();
    ASSERT_TRUE(MarkBackupComplete());
    ASSERT_TRUE(MarkRemovalBegun());

    ASSERT_TRUE(RecoverInterruptedRepair());
    ASSERT_NE(PrepareTmpPatchFolder(), 0);

    // The four folders are the backup again (qatools, which the client never had, is gone);
    // the rest of Documents was not the repair's to touch.
    EXPECT_EQ(Snapshot("Documents"), old);
    EXPECT_EQ(Snapshot("TmpPatch"), (Tree{{"All/", ""}}));
}

TEST_F(JournalTest, StartAfterACrashBeforeTheRemovalLeavesDocumentsAlone) {
    MakeOldDocumentsAndBackup();
    Write("Documents/pkres/a.pk", "changed since");
    const Tree documents = Snapshot("Documents");
    ASSERT_TRUE(MarkBackupComplete());

    ASSERT_TRUE(RecoverInterruptedRepair());
    EXPECT_EQ(Snapshot("Documents"), documents);
}

// A backup that cannot be put back whole must survive for the next start, with its mark.
TEST_F(JournalTest, AFailedRestoreKeepsTheBackupAndTheMarkForTheNextStart) {
    MakeOldDocumentsAndBackup();
    const Tree old = Snapshot("Documents");
    const Tree backup = Snapshot("TmpPatch/OrgPatch");
    CrashDuringInstall();
    ASSERT_TRUE(MarkBackupComplete());
    ASSERT_TRUE(MarkRemovalBegun());

    qx::InjectFault(qx::Sys::Copy, 1, ENOSPC, "Documents");
    EXPECT_FALSE(RecoverInterruptedRepair());
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::RemovalBegun);
    EXPECT_EQ(Snapshot("TmpPatch/OrgPatch"), backup);

    ASSERT_TRUE(RecoverInterruptedRepair());
    EXPECT_EQ(Snapshot("Documents"), old);
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::None);
}

}  // namespace
