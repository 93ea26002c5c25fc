// Putting the backup back and the start-up recovery on a real client folder: Documents' patch
// folders become their originals again whatever the failed repair left, whether they go back by
// rename or, where a rename is refused, by comparing; a file that cannot be written but still holds
// its old content is no obstacle, nothing is deleted that cannot be put back, and TmpPatch keeps a
// backup that still has to go back.
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
#include "repair_fixture.h"
#include "support/host_system.h"

namespace {

class RestoreTest : public RepairFolderTest {
  protected:
    void SetUp() override {
        RepairFolderTest::SetUp();
        MakeFolder("TmpPatch/All");
        // Three of the four patch folders (no qatools) and a file of the client's own.
        Write("Documents/pkres/a.pk", "old a");
        Write("Documents/pkres/sub/b.pk", "old b");
        Write("Documents/subver/ver.txt", "1.0.0");
        Write("Documents/patch_cache/c.bin", std::string(70000, 'c'));
        Write("Documents/settings.ini", "mine");
        before_ = Snapshot("Documents");
    }
    void TearDown() override { qx::ClearFaults(); }

    void MakeReadOnly(const std::string& relative) const {
        chmod(client_.host(relative).c_str(), 0444);
    }

    // The backup taken and announced, the old folders removed: where every restore starts.
    void BackUpAndRemove() const {
        ASSERT_TRUE(BackupOriginalPatches());
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

    Tree before_;
};

// The folders go back by rename: the backup is empty afterwards, and what the install left of a
// folder was moved aside, not deleted.
TEST_F(RestoreTest, AfterAnInstallCutShortTheFoldersGoBackByRename) {
    BackUpAndRemove();
    PartialInstall();
    qx::InjectFault(qx::Sys::Copy, 1, EIO);  // a copy would fail the restore

    FileFailure failure;
    EXPECT_TRUE(RestoreOriginalPatches(&failure));
    EXPECT_FALSE(failure.Recorded());
    EXPECT_EQ(Snapshot("Documents"), before_);
    EXPECT_EQ(Snapshot("TmpPatch/OrgPatch"), Tree{});
    EXPECT_EQ(Snapshot("TmpPatch/Undone/pkres").count("n.pk"), 1u);
}

// The rename is refused (a file held in the folder, another volume): the restore compares. The
// read-only original could not be removed and cannot be written; it still holds what the backup
// holds, so it counts as restored and the restore succeeds.
TEST_F(RestoreTest, WhereARenameIsRefusedAnUnwritableFileEqualToItsBackupCountsAsRestored) {
    ASSERT_TRUE(BackupOriginalPatches());
    ASSERT_TRUE(MarkRemovalBegun());
    // As if the removal had met the read-only file after deleting a.pk.
    std::filesystem::create_directories(client_.host("Documents/pkres/sub"));
    Write("Documents/pkres/sub/b.pk", "old b");
    MakeReadOnly("Documents/pkres/sub/b.pk");
    qx::InjectFault(qx::Sys::Rename, 1, EXDEV, "Documents/pkres");

    EXPECT_TRUE(RestoreOriginalPatches());
    EXPECT_EQ(Snapshot("Documents"), before_);
}

// A file that differs from its backup and cannot be replaced stays as it is (it is never deleted
// first); everything else comes back, and the failure names the file.
// The same for a file the install added that cannot be removed: a folder that mixes old and new
// files is no restore, so the journal keeps asking for one.
TEST_F(RestoreTest, AFileThatCannotBePutBackOrRemovedIsNamedAndNothingElseIsLost) {
    const struct {
        const char* stuck;  // the install's file that cannot be written or removed
        const wchar_t* call;
        const char* content;
    } cases[] = {{"pkres/a.pk", L"CopyFileW", "new a"}, {"pkres/n.pk", L"DeleteFileW", "new n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stuck);
        std::filesystem::remove_all(client_.host("TmpPatch"));
        std::filesystem::remove_all(client_.host("Documents"));
        SetUp();
        BackUpAndRemove();
        PartialInstall();
        MakeReadOnly(std::string("Documents/") + c.stuck);
        qx::InjectFault(qx::Sys::Rename, 1, EXDEV, "Documents/pkres");

        FileFailure failure;
        EXPECT_FALSE(PutBackupBack(&failure));
        EXPECT_EQ(failure.call, c.call);
        EXPECT_EQ(failure.target.empty() ? failure.path : failure.target,
                  client_.win(std::string("Documents/") + c.stuck));
        EXPECT_EQ(failure.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
        Tree expected = before_;
        expected[c.stuck] = c.content;
        EXPECT_EQ(Snapshot("Documents"), expected);
        EXPECT_EQ(Snapshot("TmpPatch/OrgPatch/pkres").at("a.pk"), "old a");
        EXPECT_TRUE(AsksForRestore(ReadRepairJournal()));
        chmod(client_.host(std::string("Documents/") + c.stuck).c_str(), 0644);
        qx::ClearFaults();
    }
}

// A link in a patch folder moves with its folder, into the backup and back: it is still the same
// link afterwards, and what it leads to is never touched.
TEST_F(RestoreTest, ALinkInAPatchFolderMovesWithItAndWhatItLeadsToIsUntouched) {
    Write("shared/s.pk", "shared");
    if (!qxtest::MakeSymlink(client_.host("shared"), client_.host("Documents/pkres/linked"),
                             true)) {
        GTEST_SKIP() << qxtest::NoSymlinkReason();
    }
    const Tree withLink = Snapshot("Documents");
    BackUpAndRemove();
    PartialInstall();

    EXPECT_TRUE(RestoreOriginalPatches());
    EXPECT_EQ(Snapshot("Documents"), withLink);
    EXPECT_EQ(Snapshot("shared"), (Tree{{"s.pk", "shared"}}));
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

// A crash while the backup is taken: the folder moved so far goes back, the one half copied (its
// move refused) stays where it is whole, in Documents; a journal that says the install finished
// leaves Documents alone.
TEST_F(RestoreTest, TheStartPutsBackOnlyWhatTheRepairMovedAndNeverAFinishedRepair) {
    ASSERT_TRUE(MarkBackupBegun());
    ASSERT_TRUE(MarkFolderMoving(L"pkres"));
    MakeFolder("TmpPatch/OrgPatch");
    std::filesystem::rename(client_.host("Documents/pkres"),
                            client_.host("TmpPatch/OrgPatch/pkres"));
    ASSERT_TRUE(MarkFolderMoving(L"subver"));
    Write("TmpPatch/OrgPatch/subver/half.txt", "half a copy");

    FileFailure failure;
    EXPECT_TRUE(RecoverInterruptedRepair(&failure));
    EXPECT_EQ(Snapshot("Documents"), before_);
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::None);

    Write("Documents/pkres/a.pk", "installed");
    const Tree installed = Snapshot("Documents");
    ASSERT_TRUE(MarkBackupBegun());
    ASSERT_TRUE(MarkBackupComplete());
    ASSERT_TRUE(MarkRemovalBegun());
    ASSERT_TRUE(MarkInstallComplete());
    EXPECT_TRUE(RecoverInterruptedRepair(&failure));
    EXPECT_EQ(Snapshot("Documents"), installed);
    EXPECT_FALSE(failure.Recorded());
}

// A restore cut short at each of its steps (announced, moved aside, moved back): the start after
// it finishes the job and never takes a folder that came back for one the client never had.
TEST_F(RestoreTest, ARestoreCutShortAtAnyStepIsFinishedByTheNextStart) {
    for (int step = 0; step < 3; ++step) {
        SCOPED_TRACE(step);
        std::filesystem::remove_all(client_.host("TmpPatch"));
        MakeFolder("TmpPatch/All");
        BackUpAndRemove();
        PartialInstall();
        ASSERT_TRUE(MarkFolderRestoring(L"pkres"));
        if (step >= 1) {
            MakeFolder("TmpPatch/Undone");
            std::filesystem::rename(client_.host("Documents/pkres"),
                                    client_.host("TmpPatch/Undone/pkres"));
        }
        if (step >= 2) {
            std::filesystem::rename(client_.host("TmpPatch/OrgPatch/pkres"),
                                    client_.host("Documents/pkres"));
        }

        FileFailure failure;
        ASSERT_TRUE(RecoverInterruptedRepair(&failure));
        EXPECT_EQ(Snapshot("Documents"), before_);
    }
}

// A restore that cannot finish keeps what did not come back and the journal through the start-up's
// emptying of TmpPatch, and the start after succeeds.
TEST_F(RestoreTest, AFailedRecoveryKeepsTheBackupForTheNextStart) {
    BackUpAndRemove();
    PartialInstall();
    Write("TmpPatch/1.0.1/leftover.pk", "x");
    const Tree pkres = Snapshot("TmpPatch/OrgPatch/pkres");

    ASSERT_TRUE(qx::InjectFaults("rename:1:EXDEV:Documents/pkres,copy:1:ENOSPC:Documents"));
    FileFailure failure;
    EXPECT_FALSE(RecoverInterruptedRepair(&failure));
    EXPECT_EQ(failure.call, L"CopyFileW");
    EXPECT_EQ(failure.error, static_cast<DWORD>(ERROR_DISK_FULL));
    ASSERT_NE(PrepareTmpPatchFolder(), 0);
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::RemovalBegun);
    EXPECT_EQ(Snapshot("TmpPatch/OrgPatch/pkres"), pkres);
    EXPECT_FALSE(Exists("TmpPatch/1.0.1"));

    EXPECT_TRUE(RecoverInterruptedRepair(&failure));
    EXPECT_EQ(Snapshot("Documents"), before_);
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::None);
}

// A repair started while a restore is pending keeps the pending backup as its own: a folder that
// already came back joins it again (announced), the others stay, and nothing Documents holds of
// the failed install is taken for the client's.
TEST_F(RestoreTest, ANewBackupCompletesAPendingOneInsteadOfTakingDocumentsAsItIs) {
    BackUpAndRemove();
    PartialInstall();
    ASSERT_TRUE(MarkFolderRestoring(L"subver"));
    std::filesystem::rename(client_.host("TmpPatch/OrgPatch/subver"),
                            client_.host("Documents/subver"));
    Tree backup;
    for (const auto& item : before_) {
        if (item.first != "settings.ini") {
            backup.emplace(item);
        }
    }

    ASSERT_TRUE(BackupOriginalPatches());
    EXPECT_EQ(Snapshot("TmpPatch/OrgPatch"), backup);
    EXPECT_EQ(ReadRepairJournalWithMarks().MarkOf(L"subver"), FolderMark::Moving);

    ASSERT_TRUE(MarkRemovalBegun());
    ASSERT_NE(RemoveLeftoverPatches(), 0);
    EXPECT_TRUE(RestoreOriginalPatches());
    EXPECT_EQ(Snapshot("Documents"), before_);
}

// TmpPatch is the tool's own: read-only copies a backup carried over from Documents are no
// obstacle to emptying it once the journal says the backup is obsolete, while the client's
// read-only files in Documents stay protected.
TEST_F(RestoreTest, EmptyingTmpPatchRemovesReadOnlyLeftovers) {
    MakeReadOnly("Documents/subver/ver.txt");
    Write("TmpPatch/OrgPatch/subver/ver.txt", "1.0.0");
    MakeReadOnly("TmpPatch/OrgPatch/subver/ver.txt");
    Write("TmpPatch/OrgPatch.stale1/pkres/a.pk", "old a");
    MakeReadOnly("TmpPatch/OrgPatch.stale1/pkres/a.pk");
    Write("TmpPatch/repair.journal",
          "backup begun\nbackup complete\nremoval begun\ninstall complete\n");

    ASSERT_NE(PrepareTmpPatchFolder(), 0);
    EXPECT_EQ(Snapshot("TmpPatch"), (Tree{{"All/", ""}}));
    EXPECT_EQ(Snapshot("Documents"), before_);
    chmod(client_.host("Documents/subver/ver.txt").c_str(), 0644);
}

// A backup no journal accounts for (none, an empty one, one cut short in its first record, one
// that cannot be read) may be the client's only copy: the start puts back what Documents lacks of
// it, never replaces or removes anything, and keeps the rest of it; a new repair sets it aside.
TEST_F(RestoreTest, ABackupNoJournalAccountsForOnlyAddsWhatDocumentsLacksAndIsNeverRemoved) {
    struct Case {
        const char* name;
        const char* journal;  // null: none; "/": a folder in its place, which cannot be read
    };
    const Case cases[] = {
        {"no journal", nullptr}, {"empty", ""}, {"cut short", "backup beg"}, {"unreadable", "/"}};
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        std::filesystem::remove_all(client_.host("TmpPatch"));
        std::filesystem::remove_all(client_.host("Documents"));
        Write("Documents/pkres/a.pk", "new a");
        Write("Documents/subver/ver.txt", "1.0.0");
        Write("TmpPatch/OrgPatch/pkres/a.pk", "old a");
        Write("TmpPatch/OrgPatch/pkres/sub/b.pk", "old b");
        Write("TmpPatch/OrgPatch/subver/ver.txt", "1.0.0");
        Write("TmpPatch/OrgPatch/qatools/q.txt", "old q");
        const bool unreadable = item.journal != nullptr && std::string(item.journal) == "/";
        if (unreadable) {
            MakeFolder("TmpPatch/repair.journal");
        } else if (item.journal != nullptr) {
            Write("TmpPatch/repair.journal", item.journal);
        }

        FileFailure failure;
        EXPECT_EQ(RecoverInterruptedRepair(&failure), !unreadable);
        ASSERT_NE(PrepareTmpPatchFolder(), 0);
        EXPECT_EQ(Snapshot("Documents"), (Tree{{"pkres/", ""},
                                               {"pkres/a.pk", "new a"},
                                               {"pkres/sub/", ""},
                                               {"pkres/sub/b.pk", "old b"},
                                               {"qatools/", ""},
                                               {"qatools/q.txt", "old q"},
                                               {"subver/", ""},
                                               {"subver/ver.txt", "1.0.0"}}));
        const Tree kept = {{"pkres/", ""},     {"pkres/a.pk", "old a"},
                           {"pkres/sub/", ""}, {"pkres/sub/b.pk", "old b"},
                           {"subver/", ""},    {"subver/ver.txt", "1.0.0"}};
        EXPECT_EQ(Snapshot("TmpPatch/OrgPatch"), kept);
        if (!unreadable) {
            ASSERT_TRUE(BackupOriginalPatches());
            EXPECT_EQ(Snapshot("TmpPatch/OrgPatch.stale1"), kept);
        }
    }
}

}  // namespace
