// Putting the backup back and the start-up recovery on a real client folder: Documents' patch
// folders become equal to the backup whatever the failed repair left, a file that cannot be
// written but still holds its old content is no obstacle, nothing is deleted that cannot be put
// back, and TmpPatch keeps a backup that still has to go back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <string>

#include "fsutil/file_failure.h"
#include "platform/posix/syscalls.h"
#include "repair/download_stage.h"
#include "repair/install_stages.h"
#include "repair/journal.h"
#include "repair/restore.h"
#include "state/app_state.h"
#include "support/host_system.h"
#include "support/temp_dir.h"

namespace {

using Tree = std::map<std::string, std::string>;

class RestoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_exeDir = client_.win() + L"\\";
        std::filesystem::create_directories(client_.host("TmpPatch/All"));
        // Three of the four patch folders (no qatools) and a file of the client's own.
        Write("Documents/pkres/a.pk", "old a");
        Write("Documents/pkres/sub/b.pk", "old b");
        Write("Documents/subver/ver.txt", "1.0.0");
        Write("Documents/patch_cache/c.bin", std::string(70000, 'c'));
        Write("Documents/settings.ini", "mine");
        before_ = Snapshot("Documents");
    }
    void TearDown() override { qx::ClearFaults(); }

    void Write(const std::string& relative, const std::string& content) const {
        qxtest::WriteHostFile(client_.host(relative), content);
    }
    Tree Snapshot(const std::string& relative) const {
        return qxtest::SnapshotTree(client_.host(relative));
    }
    void MakeReadOnly(const std::string& relative) const {
        chmod(client_.host(relative).c_str(), 0444);
    }

    // The backup taken and announced, the old folders removed: where every restore starts.
    void BackUpAndRemove() const {
        ASSERT_TRUE(BackupOriginalPatches());
        ASSERT_TRUE(MarkBackupComplete());
        ASSERT_TRUE(MarkRemovalBegun());
        ASSERT_NE(RemoveLeftoverPatches(), 0);
    }
    // What an install cut short leaves: a folder the client did not have, a changed file, a new
    // one, a file of the same size but other content.
    void PartialInstall() const {
        Write("Documents/pkres/a.pk", "new a");
        Write("Documents/pkres/n.pk", "new n");
        Write("Documents/patch_cache/c.bin", std::string(70000, 'n'));
        Write("Documents/qatools/t.txt", "tool");
    }

    qxtest::TempDir client_;
    Tree before_;
};

TEST_F(RestoreTest, AfterAnInstallCutShortTheFoldersAreAsBefore) {
    BackUpAndRemove();
    PartialInstall();

    FileFailure failure;
    EXPECT_TRUE(RestoreOriginalPatches(&failure));
    EXPECT_FALSE(failure.Recorded());
    EXPECT_EQ(Snapshot("Documents"), before_);
}

// The read-only original could not be removed and cannot be written; it still holds what the
// backup holds, so it counts as restored and the restore succeeds.
TEST_F(RestoreTest, AnUnwritableFileEqualToItsBackupCountsAsRestored) {
    ASSERT_TRUE(BackupOriginalPatches());
    MakeReadOnly("Documents/pkres/sub/b.pk");
    EXPECT_EQ(RemoveLeftoverPatches(), 0);

    EXPECT_TRUE(RestoreOriginalPatches());
    EXPECT_EQ(Snapshot("Documents"), before_);
}

// A file that differs from its backup and cannot be replaced stays as it is (it is never deleted
// first); everything else comes back, and the failure names the file.
TEST_F(RestoreTest, AFileThatCannotBePutBackIsNamedAndNothingElseIsLost) {
    BackUpAndRemove();
    PartialInstall();
    MakeReadOnly("Documents/pkres/a.pk");

    FileFailure failure;
    EXPECT_FALSE(RestoreOriginalPatches(&failure));
    EXPECT_EQ(failure.call, L"CopyFileW");
    EXPECT_EQ(failure.target, client_.win("Documents/pkres/a.pk"));
    EXPECT_EQ(failure.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    Tree expected = before_;
    expected["pkres/a.pk"] = "new a";
    EXPECT_EQ(Snapshot("Documents"), expected);
}

// Links in Documents are never followed: the restore removes the link itself and puts the
// backed-up content back as a folder of the client's own.
TEST_F(RestoreTest, ALinkInAPatchFolderIsReplacedAndWhatItLeadsToIsUntouched) {
    Write("shared/s.pk", "shared");
    if (!qxtest::MakeSymlink(client_.host("shared"), client_.host("Documents/pkres/linked"),
                             true)) {
        GTEST_SKIP() << qxtest::NoSymlinkReason();
    }
    ASSERT_TRUE(BackupOriginalPatches());
    ASSERT_TRUE(MarkBackupComplete());
    ASSERT_TRUE(MarkRemovalBegun());
    Write("Documents/pkres/a.pk", "new a");  // the removal never got there

    EXPECT_TRUE(RestoreOriginalPatches());
    EXPECT_EQ(Snapshot("shared"), (Tree{{"s.pk", "shared"}}));
    Tree expected = before_;
    expected["pkres/linked/"] = "";
    expected["pkres/linked/s.pk"] = "shared";
    EXPECT_EQ(Snapshot("Documents"), expected);
}

// Start-up: a journal asking for the restore gets it and is cleared; TmpPatch is then emptied.
TEST_F(RestoreTest, TheStartAfterACrashInTheInstallPutsTheBackupBackThenEmptiesTmpPatch) {
    BackUpAndRemove();
    PartialInstall();

    FileFailure failure;
    ASSERT_TRUE(RecoverInterruptedRepair(&failure));
    ASSERT_NE(PrepareTmpPatchFolder(), 0);
    EXPECT_EQ(Snapshot("Documents"), before_);
    EXPECT_EQ(Snapshot("TmpPatch"), (Tree{{"All/", ""}}));
}

// Only a journal that asks for it makes the start touch Documents: not one written before the
// removal, and never one that says the install finished.
TEST_F(RestoreTest, TheStartLeavesDocumentsAloneUnlessTheRemovalHadBegun) {
    ASSERT_TRUE(BackupOriginalPatches());
    Write("Documents/pkres/a.pk", "changed since");
    const Tree changed = Snapshot("Documents");
    FileFailure failure;

    ASSERT_TRUE(MarkBackupComplete());
    EXPECT_TRUE(RecoverInterruptedRepair(&failure));
    EXPECT_EQ(Snapshot("Documents"), changed);

    ASSERT_TRUE(MarkRemovalBegun());
    ASSERT_TRUE(MarkInstallComplete());
    EXPECT_TRUE(RecoverInterruptedRepair(&failure));
    EXPECT_EQ(Snapshot("Documents"), changed);
    EXPECT_FALSE(failure.Recorded());
}

// A restore that cannot finish keeps the backup and the journal through the start-up's emptying
// of TmpPatch, and the start after succeeds.
TEST_F(RestoreTest, AFailedRecoveryKeepsTheBackupForTheNextStart) {
    BackUpAndRemove();
    PartialInstall();
    Write("TmpPatch/1.0.1/leftover.pk", "x");
    const Tree backup = Snapshot("TmpPatch/OrgPatch");

    qx::InjectFault(qx::Sys::Copy, 1, ENOSPC, "Documents");
    FileFailure failure;
    EXPECT_FALSE(RecoverInterruptedRepair(&failure));
    EXPECT_EQ(failure.call, L"CopyFileW");
    EXPECT_EQ(failure.error, static_cast<DWORD>(ERROR_DISK_FULL));
    ASSERT_NE(PrepareTmpPatchFolder(), 0);
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::RemovalBegun);
    EXPECT_EQ(Snapshot("TmpPatch/OrgPatch"), backup);
    EXPECT_FALSE(std::filesystem::exists(client_.host("TmpPatch/1.0.1")));

    EXPECT_TRUE(RecoverInterruptedRepair(&failure));
    EXPECT_EQ(Snapshot("Documents"), before_);
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::None);
}

// TmpPatch is the tool's own: read-only copies the backup carried over from Documents are no
// obstacle to emptying it, while the client's read-only files in Documents stay protected.
TEST_F(RestoreTest, EmptyingTmpPatchRemovesReadOnlyLeftovers) {
    MakeReadOnly("Documents/subver/ver.txt");
    ASSERT_TRUE(BackupOriginalPatches());
    ASSERT_NE(GetFileAttributesW(client_.win("TmpPatch/OrgPatch/subver/ver.txt").c_str()) &
                  FILE_ATTRIBUTE_READONLY,
              0u);

    ASSERT_NE(PrepareTmpPatchFolder(), 0);
    EXPECT_EQ(Snapshot("TmpPatch"), (Tree{{"All/", ""}}));
    EXPECT_EQ(Snapshot("Documents"), before_);

    // The next backup starts from an empty OrgPatch, whatever was left there.
    Write("TmpPatch/OrgPatch/pkres/stale.pk", "stale");
    MakeReadOnly("TmpPatch/OrgPatch/pkres/stale.pk");
    ASSERT_TRUE(BackupOriginalPatches());
    EXPECT_FALSE(std::filesystem::exists(client_.host("TmpPatch/OrgPatch/pkres/stale.pk")));
    chmod(client_.host("Documents/subver/ver.txt").c_str(), 0644);
}

}  // namespace
