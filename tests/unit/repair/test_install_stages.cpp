// The stages after extraction on real folders: CopyTree, the merge into TmpPatch\All, the backup
// of the client's four patch folders and their removal.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "fsutil/file_failure.h"
#include "net/http_client.h"
#include "patchlist/patch_list.h"
#include "platform/posix/syscalls.h"
#include "repair/copy_tree.h"
#include "repair/install_stages.h"
#include "repair/journal.h"
#include "repair_fixture.h"
#include "state/app_state.h"

namespace {

using Tree = std::map<std::string, std::string>;

PatchEntry Entry(const std::wstring& version) {
    PatchEntry entry;
    entry.version = version;
    entry.url = L"http://h/" + version + L".zip";
    return entry;
}

void MakeReadOnly(const std::string& hostPath) {
    chmod(hostPath.c_str(), 0444);
}

// The entries of a snapshot below one folder, keyed relative to it.
Tree Below(const Tree& tree, const std::string& folder) {
    Tree out;
    for (const auto& item : tree) {
        if (item.first.compare(0, folder.size() + 1, folder + "/") == 0 &&
            item.first.size() > folder.size() + 1) {
            out.emplace(item.first.substr(folder.size() + 1), item.second);
        }
    }
    return out;
}

class InstallStagesTest : public RepairFolderTest {
  protected:
    void SetUp() override {
        RepairFolderTest::SetUp();
        MakeFolder("TmpPatch/All");
        MakeFolder("Documents");
    }
    void TearDown() override {
        qx::ClearFaults();
        qx::ResetSyscalls();
    }

    // A client whose Documents holds three of the four patch folders and one file of its own.
    void MakeClientDocuments() const {
        Write("Documents/pkres/a.pk", "pkres a");
        Write("Documents/pkres/sub/b.pk", "pkres b");
        Write("Documents/subver/ver.txt", "1.0.0");
        Write("Documents/patch_cache/c.bin", "cache");
        Write("Documents/settings.ini", "mine");
    }
};

TEST_F(InstallStagesTest, CopyTreeCopiesEverythingOverwritingAndKeepingExtraFiles) {
    Write("src/top.txt", "top");
    Write("src/..a/inner.txt", "dots");
    Write("src/.hidden", "hidden");
    Write("src/deep/er/f.bin", std::string(100000, 'z'));
    MakeFolder("src/empty");
    Write("dst/top.txt", "old");
    Write("dst/extra.txt", "extra");

    EXPECT_TRUE(CopyTree(client_.win("src"), client_.win("dst")));
    Tree expected = Snapshot("src");
    expected["extra.txt"] = "extra";
    EXPECT_EQ(Snapshot("dst"), expected);
}

// Only a missing source has nothing to copy: one that cannot be listed must not pass for empty,
// or a backup would silently lack its files.
TEST_F(InstallStagesTest, CopyTreeOfAMissingSourceSucceedsButAnUnreadableOneFails) {
    EXPECT_TRUE(CopyTree(client_.win("nothing"), client_.win("dst")));
    EXPECT_FALSE(Exists("dst"));

    Write("src/sub/f.txt", "f");
    qx::InjectFault(qx::Sys::Opendir, 1, EACCES, "src/sub");
    FileFailure failure;
    EXPECT_FALSE(CopyTree(client_.win("src"), client_.win("dst"), &failure));
    EXPECT_EQ(failure.call, L"FindFirstFileW");
    EXPECT_EQ(failure.path, client_.win("src/sub"));
    EXPECT_EQ(failure.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(InstallStagesTest, CopyTreeFailsOnAReadOnlyTarget) {
    Write("src/sub/f.txt", "new");
    Write("dst/sub/f.txt", "old");
    MakeReadOnly(client_.host("dst/sub/f.txt"));

    FileFailure failure;
    EXPECT_FALSE(CopyTree(client_.win("src"), client_.win("dst"), &failure));
    EXPECT_EQ(Read("dst/sub/f.txt"), "old");
    EXPECT_EQ(failure.call, L"CopyFileW");
    EXPECT_EQ(failure.path, client_.win("src/sub/f.txt"));
    EXPECT_EQ(failure.target, client_.win("dst/sub/f.txt"));
    EXPECT_EQ(failure.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// The search pattern src + "\*.*" must fit 260 wide characters: a longer one is refused, not cut.
TEST_F(InstallStagesTest, CopyTreeRefusesASourceWhosePatternDoesNotFit) {
    std::string fits = "src";
    while (client_.win(fits + "/" + std::string(10, 'n')).size() + 4 < 260) {
        fits += "/" + std::string(10, 'n');
    }
    const std::string tooLong = fits + "/" + std::string(300 - client_.win(fits).size(), 'x');
    Write(fits + "/ok.txt", "ok");

    EXPECT_TRUE(CopyTree(client_.win(fits), client_.win("dst1")));
    EXPECT_EQ(Read("dst1/ok.txt"), "ok");

    Write(tooLong + "/f.txt", "f");
    EXPECT_FALSE(CopyTree(client_.win(fits), client_.win("dst2")));
}

// The list holds the newest first; the merge copies it oldest first and the cumulative patch
// last, so the newest entry beats the older one and the cumulative patch beats both.
TEST_F(InstallStagesTest, MergeLetsTheNewestEntryAndThenTheCumulativePatchWin) {
    Write("TmpPatch/1.0.2/sub/f.txt", "1.0.2");
    Write("TmpPatch/1.0.2/sub/g.txt", "1.0.2");
    Write("TmpPatch/1.0.1/sub/f.txt", "1.0.1");
    Write("TmpPatch/1.0.1/sub/g.txt", "1.0.1");
    Write("TmpPatch/1.0.1/only-old.txt", "1.0.1");
    Write("TmpPatch/patch1.0.1/sub/g.txt", "cumulative");
    Write("TmpPatch/1.0.3/unlisted.txt", "not in the list");
    RepairPlan plan = PlanDownloads({Entry(L"1.0.2"), Entry(L"1.0.1")}, {});
    AppendToPlan(plan, PlanCumulativePatch(Entry(L"1.0.2"), {}));

    EXPECT_TRUE(MergeTempPatches(plan));
    EXPECT_EQ(Snapshot("TmpPatch/All"), (Tree{{"only-old.txt", "1.0.1"},
                                              {"sub/", ""},
                                              {"sub/f.txt", "1.0.2"},
                                              {"sub/g.txt", "cumulative"}}));
}

TEST_F(InstallStagesTest, MergeOfAnEmptyOrMissingFolderSucceedsButNothingToMergeFails) {
    MakeFolder("TmpPatch/1.0.1");
    EXPECT_TRUE(MergeTempPatches(PlanDownloads({Entry(L"1.0.2"), Entry(L"1.0.1")}, {})));
    EXPECT_EQ(Snapshot("TmpPatch/All"), Tree{});

    EXPECT_FALSE(MergeTempPatches(RepairPlan()));
}

TEST_F(InstallStagesTest, MergeRefusesAVersionThatLeadsOutOfTheTemporaryFolder) {
    Write("Documents/pkres/a.pk", "client data");
    EXPECT_FALSE(MergeTempPatches(PlanDownloads({Entry(L"..\\Documents")}, {})));
    EXPECT_EQ(Snapshot("TmpPatch/All"), Tree{});
}

// The backup moves the folders that exist, each announced; a move the system refuses copies the
// folder instead, leaving it for the removal. Either way the backup holds the same.
TEST_F(InstallStagesTest, BackupMovesThePatchFoldersThatExistOrCopiesWhereAMoveIsRefused) {
    MakeClientDocuments();
    const Tree documents = Snapshot("Documents");
    Tree expected;
    for (const char* sub : {"pkres", "subver", "patch_cache"}) {
        expected[std::string(sub) + "/"] = "";
        for (const auto& item : Below(documents, sub)) {
            expected[std::string(sub) + "/" + item.first] = item.second;
        }
    }

    EXPECT_TRUE(BackupOriginalPatches());
    EXPECT_EQ(Snapshot("TmpPatch/OrgPatch"), expected);
    EXPECT_EQ(Snapshot("Documents"), (Tree{{"settings.ini", "mine"}}));
    const RepairJournal journal = ReadRepairJournalWithMarks();
    EXPECT_EQ(journal.state, RepairJournalState::BackupComplete);
    EXPECT_EQ(journal.MarkOf(L"subver"), FolderMark::Moving);
    EXPECT_EQ(journal.MarkOf(L"qatools"), FolderMark::None);

    std::filesystem::remove_all(client_.host("TmpPatch"));
    std::filesystem::remove_all(client_.host("Documents"));
    MakeClientDocuments();
    qx::InjectFault(qx::Sys::Rename, 1, EXDEV, "OrgPatch/subver");
    EXPECT_TRUE(BackupOriginalPatches());
    EXPECT_EQ(Snapshot("TmpPatch/OrgPatch"), expected);
    EXPECT_EQ(Snapshot("Documents/subver"), (Tree{{"ver.txt", "1.0.0"}}));
}

// A finished repair's backup that cannot be emptied (a file the user may not remove) is set aside
// in TmpPatch; it never stands in the way of the next backup.
TEST_F(InstallStagesTest, AStaleBackupThatCannotBeRemovedIsSetAsideForTheNewOne) {
    Write("TmpPatch/OrgPatch/pkres/stuck.pk", "stale");
    Write("TmpPatch/repair.journal",
          "backup begun\nbackup complete\nremoval begun\ninstall complete\n");
    MakeClientDocuments();
    qx::InjectFault(qx::Sys::Unlink, 1, EACCES, "OrgPatch/pkres/stuck.pk");

    EXPECT_TRUE(BackupOriginalPatches());
    EXPECT_EQ(Below(Snapshot("TmpPatch/OrgPatch"), "pkres"),
              (Tree{{"a.pk", "pkres a"}, {"sub/", ""}, {"sub/b.pk", "pkres b"}}));
    EXPECT_EQ(Snapshot("TmpPatch/OrgPatch.stale1"),
              (Tree{{"pkres/", ""}, {"pkres/stuck.pk", "stale"}}));
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::BackupComplete);
}

// A journal that cannot be read accounts for nothing, but locks out no repair either: its backup
// gives back what Documents lacks and is set aside, and a new journal takes its place.
TEST_F(InstallStagesTest, AnUnreadableJournalGivesWayToANewBackup) {
    Write("TmpPatch/OrgPatch/qatools/old.txt", "the client's own");
    Write("TmpPatch/repair.journal", "backup begun\nmoving qatools\n");
    MakeClientDocuments();
    qx::InjectFault(qx::Sys::Read, 1, EIO, "repair.journal");

    EXPECT_TRUE(BackupOriginalPatches());
    // Documents lacked qatools: it came back, and went into the new backup with the others.
    EXPECT_EQ(Below(Snapshot("TmpPatch/OrgPatch"), "qatools"),
              (Tree{{"old.txt", "the client's own"}}));
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::BackupComplete);
}

// A stale backup that can neither be removed nor set aside stops the backup: a new one taken over
// it would mix the two, and the client's folders stay where they are.
TEST_F(InstallStagesTest, AStaleBackupThatCannotGoStopsTheBackup) {
    Write("TmpPatch/OrgPatch/pkres/stuck.pk", "stale");
    Write("TmpPatch/repair.journal",
          "backup begun\nbackup complete\nremoval begun\ninstall complete\n");
    MakeClientDocuments();
    const Tree documents = Snapshot("Documents");
    qx::Syscalls().unlink = [](const char* path) {
        errno = EACCES;
        return std::strstr(path, "stuck.pk") != nullptr ? -1 : unlink(path);
    };
    qx::Syscalls().rename = [](const char* from, const char* to, unsigned int flags) {
        errno = EACCES;
        return std::strstr(from, "TmpPatch/OrgPatch") != nullptr
                   ? -1
                   : renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
    };

    FileFailure failure;
    const bool backedUp = BackupOriginalPatches(&failure);
    qx::ResetSyscalls();
    EXPECT_FALSE(backedUp);
    EXPECT_EQ(failure.call, L"MoveFileExW");
    EXPECT_EQ(failure.path, client_.win("TmpPatch/OrgPatch"));
    EXPECT_EQ(Snapshot("TmpPatch/OrgPatch"), (Tree{{"pkres/", ""}, {"pkres/stuck.pk", "stale"}}));
    EXPECT_EQ(Snapshot("Documents"), documents);
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::InstallComplete);
}

// MoveTree places files as CopyTree does: later ones replace, the target's own stay, a read-only
// target fails it with the copy's error. A folder the target lacks goes by one rename; where the
// system refuses a move, the entry is copied, with the same result.
TEST_F(InstallStagesTest, MoveTreeKeepsTheRulesOfTheCopyWhetherItMovesOrCopies) {
    for (const bool refused : {false, true}) {
        SCOPED_TRACE(refused);
        std::filesystem::remove_all(client_.host("src"));
        std::filesystem::remove_all(client_.host("dst"));
        Write("src/top.txt", "new top");
        Write("src/new/deep/f.bin", std::string(100000, 'z'));
        Write("src/same/g.txt", "new g");
        Write("dst/top.txt", "old top");
        Write("dst/same/extra.txt", "extra");
        if (refused) {
            qx::Syscalls().rename = [](const char*, const char*, unsigned int) {
                errno = EXDEV;
                return -1;
            };
        }
        EXPECT_TRUE(MoveTree(client_.win("src"), client_.win("dst")));
        qx::ResetSyscalls();
        EXPECT_EQ(Snapshot("dst"), (Tree{{"new/", ""},
                                         {"new/deep/", ""},
                                         {"new/deep/f.bin", std::string(100000, 'z')},
                                         {"same/", ""},
                                         {"same/extra.txt", "extra"},
                                         {"same/g.txt", "new g"},
                                         {"top.txt", "new top"}}));
        // Moved away, or copied and left behind.
        EXPECT_EQ(std::filesystem::exists(client_.host("src/new")), refused);
    }

    Write("src/ro.txt", "new");
    Write("dst/ro.txt", "old");
    MakeReadOnly(client_.host("dst/ro.txt"));
    FileFailure failure;
    EXPECT_FALSE(MoveTree(client_.win("src"), client_.win("dst"), &failure));
    EXPECT_EQ(Read("dst/ro.txt"), "old");
    EXPECT_EQ(failure.call, L"CopyFileW");
    EXPECT_EQ(failure.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(InstallStagesTest, RemovalGoesPastAMissingFolderAndLeavesTheRestOfDocuments) {
    MakeClientDocuments();

    EXPECT_TRUE(RemoveLeftoverPatches());
    EXPECT_EQ(Snapshot("Documents"), (Tree{{"settings.ini", "mine"}}));
}

TEST_F(InstallStagesTest, RemovalFailsWhenAFolderSurvivesButStillRemovesTheOthers) {
    MakeClientDocuments();
    MakeReadOnly(client_.host("Documents/subver/ver.txt"));

    EXPECT_FALSE(RemoveLeftoverPatches());
    EXPECT_EQ(Snapshot("Documents"),
              (Tree{{"settings.ini", "mine"}, {"subver/", ""}, {"subver/ver.txt", "1.0.0"}}));
}

}  // namespace
