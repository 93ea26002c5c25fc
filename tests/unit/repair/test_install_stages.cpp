// The stages after extraction on real folders: CopyTree, the merge into TmpPatch\All, the backup
// of the client's four patch folders, their removal, and putting the backup back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "net/http_client.h"
#include "patchlist/patch_list.h"
#include "repair/copy_tree.h"
#include "repair/install_stages.h"
#include "state/app_state.h"
#include "support/temp_dir.h"
#include "repair_fixture.h"

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

    EXPECT_NE(CopyTree(client_.win("src"), client_.win("dst")), 0);
    Tree expected = Snapshot("src");
    expected["extra.txt"] = "extra";
    EXPECT_EQ(Snapshot("dst"), expected);
}

TEST_F(InstallStagesTest, CopyTreeOfAMissingSourceSucceedsWithoutMakingTheTarget) {
    EXPECT_NE(CopyTree(client_.win("nothing"), client_.win("dst")), 0);
    EXPECT_FALSE(Exists("dst"));
}

TEST_F(InstallStagesTest, CopyTreeFailsOnAReadOnlyTarget) {
    Write("src/sub/f.txt", "new");
    Write("dst/sub/f.txt", "old");
    MakeReadOnly(client_.host("dst/sub/f.txt"));

    EXPECT_EQ(CopyTree(client_.win("src"), client_.win("dst")), 0);
    EXPECT_EQ(Read("dst/sub/f.txt"), "old");
}

// The search pattern src + "\*.*" must fit 260 wide characters: a longer one is refused, not cut.
TEST_F(InstallStagesTest, CopyTreeRefusesASourceWhosePatternDoesNotFit) {
    std::string fits = "src";
    while (client_.win(fits + "/" + std::string(10, 'n')).size() + 4 < 260) {
        fits += "/" + std::string(10, 'n');
    }
    const std::string tooLong = fits + "/" + std::string(300 - client_.win(fits).size(), 'x');
    Write(fits + "/ok.txt", "ok");

    EXPECT_NE(CopyTree(client_.win(fits), client_.win("dst1")), 0);
    EXPECT_EQ(Read("dst1/ok.txt"), "ok");

    Write(tooLong + "/f.txt", "f");
    EXPECT_EQ(CopyTree(client_.win(fits), client_.win("dst2")), 0);
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
    g_patchList = {Entry(L"1.0.1"), Entry(L"1.0.2")};
    GetHttpClient()->cumulativePatchPresent = true;

    EXPECT_TRUE(MergeTempPatches({Entry(L"1.0.2"), Entry(L"1.0.1")}));
    EXPECT_EQ(Snapshot("TmpPatch/All"), (Tree{{"only-old.txt", "1.0.1"},
                                              {"sub/", ""},
                                              {"sub/f.txt", "1.0.2"},
                                              {"sub/g.txt", "cumulative"}}));
}

TEST_F(InstallStagesTest, MergeOfAnEmptyOrMissingFolderSucceedsButNothingToMergeFails) {
    MakeFolder("TmpPatch/1.0.1");
    EXPECT_TRUE(MergeTempPatches({Entry(L"1.0.2"), Entry(L"1.0.1")}));
    EXPECT_EQ(Snapshot("TmpPatch/All"), Tree{});

    EXPECT_FALSE(MergeTempPatches({}));
}

TEST_F(InstallStagesTest, MergeRefusesAVersionThatLeadsOutOfTheTemporaryFolder) {
    Write("Documents/pkres/a.pk", "client data");
    EXPECT_FALSE(MergeTempPatches({Entry(L"..\\Documents")}));
    EXPECT_EQ(Snapshot("TmpPatch/All"), Tree{});
}

TEST_F(InstallStagesTest, BackupCopiesOnlyThePatchFoldersThatExist) {
    MakeClientDocuments();

    EXPECT_TRUE(BackupOriginalPatches());
    const Tree documents = Snapshot("Documents");
    Tree expected;
    for (const char* sub : {"pkres", "subver", "patch_cache"}) {
        expected[std::string(sub) + "/"] = "";
        for (const auto& item : Below(documents, sub)) {
            expected[std::string(sub) + "/" + item.first] = item.second;
        }
    }
    EXPECT_EQ(Snapshot("TmpPatch/OrgPatch"), expected);
}

TEST_F(InstallStagesTest, RemovalGoesPastAMissingFolderAndLeavesTheRestOfDocuments) {
    MakeClientDocuments();

    EXPECT_NE(RemoveLeftoverPatches(), 0);
    EXPECT_EQ(Snapshot("Documents"), (Tree{{"settings.ini", "mine"}}));
}

TEST_F(InstallStagesTest, RemovalFailsWhenAFolderSurvivesButStillRemovesTheOthers) {
    MakeClientDocuments();
    MakeReadOnly(client_.host("Documents/subver/ver.txt"));

    EXPECT_EQ(RemoveLeftoverPatches(), 0);
    EXPECT_EQ(Snapshot("Documents"),
              (Tree{{"settings.ini", "mine"}, {"subver/", ""}, {"subver/ver.txt", "1.0.0"}}));
}

// The road of a failed install: backup, removal, an install copy that stops part-way; then the
// backup is put back and the four folders are exactly as before.
TEST_F(InstallStagesTest, RestoreBringsBackTheOldFoldersAfterAFailedInstall) {
    MakeClientDocuments();
    const Tree before = Snapshot("Documents");
    Write("TmpPatch/All/pkres/a.pk", "new a");
    Write("TmpPatch/All/pkres/new.pk", "new");
    Write("TmpPatch/All/settings.ini", "theirs");
    MakeReadOnly(client_.host("Documents/settings.ini"));

    ASSERT_TRUE(BackupOriginalPatches());
    ASSERT_NE(RemoveLeftoverPatches(), 0);
    ASSERT_EQ(CopyTree(client_.win("TmpPatch/All"), client_.win("Documents")), 0);

    EXPECT_TRUE(RestoreOriginalPatches());
    Tree restored = Snapshot("Documents");
    EXPECT_EQ(restored, before);
}

// After a failed removal part of a folder is gone; the restore returns everything else, even
// though the file that stopped the removal also stops its own copy.
TEST_F(InstallStagesTest, RestoreAfterAFailedRemovalReturnsAllItCan) {
    Write("Documents/subver/a.txt", "a");
    Write("Documents/subver/b.txt", "b");
    Write("Documents/subver/c.txt", "c");
    Write("Documents/subver/d/e.txt", "e");
    const Tree before = Snapshot("Documents");
    ASSERT_TRUE(BackupOriginalPatches());
    MakeReadOnly(client_.host("Documents/subver/b.txt"));
    ASSERT_EQ(RemoveLeftoverPatches(), 0);

    EXPECT_FALSE(RestoreOriginalPatches());
    EXPECT_EQ(Snapshot("Documents"), before);
}

TEST_F(InstallStagesTest, RestoreWithoutABackupTouchesNothing) {
    MakeClientDocuments();
    const Tree before = Snapshot("Documents");

    EXPECT_TRUE(RestoreOriginalPatches());
    EXPECT_EQ(Snapshot("Documents"), before);
}

}  // namespace
