// The extraction stage in a temporary client folder: every archive of the plan unpacked in its
// order into its folder, the cumulative patch into a folder of its own, what the observer hears,
// and what makes the stage fail.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "fsutil/file_failure.h"
#include "recording_observer.h"
#include "repair/extract_stage.h"
#include "repair_fixture.h"
#include "support/zip_builder.h"

namespace {

using qxtest::ZipBuilder;
using Tree = std::map<std::string, std::string>;

PatchEntry Entry(const std::wstring& version, const std::wstring& url) {
    PatchEntry entry;
    entry.version = version;
    entry.url = url;
    return entry;
}

// One archive holding "v.txt" with the given text, below a directory entry "d".
ZipBuilder Archive(const std::string& text) {
    ZipBuilder zip;
    zip.Dir("d").File("d/v.txt", text);
    return zip;
}

class ExtractStageTest : public RepairFolderTest {
  protected:
    void SetUp() override {
        RepairFolderTest::SetUp();
        MakeFolder("TmpPatch/All");
    }

    void Put(const std::string& name, const ZipBuilder& zip) const {
        zip.WriteTo(client_.host("TmpPatch/" + name));
    }

    // Plans the download list (newest first) and extracts its archives.
    bool Extract(std::vector<PatchEntry> downloads, FileFailure* failure = nullptr) {
        return ExtractPatches(PlanDownloads(std::move(downloads), {}), observer_, failure);
    }

    qxtest::RecordingObserver observer_;

    // The extraction folders only: archives and the empty "All" left out.
    Tree Folders() const {
        Tree tree;
        for (const auto& item : Snapshot("TmpPatch")) {
            if (item.first.find('/') != std::string::npos && item.first != "All/") {
                tree.insert(item);
            }
        }
        return tree;
    }
};

TEST_F(ExtractStageTest, EachArchiveGoesIntoTheFolderOfItsVersionOldestFirst) {
    Put("c.zip", Archive("1.0.3"));
    Put("b.zip", Archive("1.0.2"));
    Put("a.zip", Archive("1.0.1"));
    ZipBuilder four;
    four.File("1", "a").File("2", "b").File("3", "c").File("4", "d");
    Put("four.zip", four);

    EXPECT_TRUE(
        Extract({Entry(L"1.0.4", L"http://h/four.zip"), Entry(L"1.0.3", L"http://h/p/1.0.3/c.zip"),
                 Entry(L"1.0.2", L"http://h/b.zip"), Entry(L"1.0.1", L"a.zip")}));
    Tree folders = Folders();
    for (const char* file : {"1.0.4/", "1.0.4/1", "1.0.4/2", "1.0.4/3", "1.0.4/4"}) {
        EXPECT_EQ(folders.erase(file), 1u) << file;
    }
    EXPECT_EQ(folders, (Tree{{"1.0.1/", ""},
                             {"1.0.1/d/", ""},
                             {"1.0.1/d/v.txt", "1.0.1"},
                             {"1.0.2/", ""},
                             {"1.0.2/d/", ""},
                             {"1.0.2/d/v.txt", "1.0.2"},
                             {"1.0.3/", ""},
                             {"1.0.3/d/", ""},
                             {"1.0.3/d/v.txt", "1.0.3"}}));
    // The extra one stands for the cumulative patch; the four-file archive, the newest, comes last.
    EXPECT_EQ(observer_.extractionsAnnounced, 5);
    EXPECT_EQ(observer_.extractionsStarted, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(
        observer_.extractionProgress,
        (std::vector<std::pair<int, int>>{{1, 1}, {1, 1}, {1, 1}, {1, 4}, {2, 4}, {3, 4}, {4, 4}}));
}

// Two lines of one version each keep their own folder: nothing of the first is lost.
TEST_F(ExtractStageTest, EntriesOfOneVersionEachKeepAFolder) {
    Put("new.zip", Archive("later line"));
    Put("old.zip", Archive("earlier line"));
    EXPECT_TRUE(
        Extract({Entry(L"1.0.5", L"http://h/new.zip"), Entry(L"1.0.5", L"http://h/old.zip")}));
    EXPECT_EQ(Read("TmpPatch/1.0.5/d/v.txt"), "earlier line");
    EXPECT_EQ(Read("TmpPatch/1.0.5 (2)/d/v.txt"), "later line");
}

// V = 1.0.1 is also the version of a list entry: the cumulative patch must not take its folder.
TEST_F(ExtractStageTest, TheCumulativePatchGoesIntoItsOwnFolderAfterTheList) {
    Put("a.zip", Archive("entry 1.0.1"));
    Put("patch1.0.1.qx.all.win32", Archive("cumulative"));
    RepairPlan plan = PlanDownloads({Entry(L"1.0.1", L"http://h/a.zip")}, {});
    AppendToPlan(plan, PlanCumulativePatch(Entry(L"1.0.7", L"http://h/b.zip"), {}));

    EXPECT_TRUE(ExtractPatches(plan, observer_));
    EXPECT_EQ(Read("TmpPatch/1.0.1/d/v.txt"), "entry 1.0.1");
    EXPECT_EQ(Read("TmpPatch/patch1.0.1/d/v.txt"), "cumulative");
    EXPECT_EQ(observer_.extractionsAnnounced, 2);
    EXPECT_EQ(observer_.extractionsStarted, (std::vector<int>{1, 2}));
}

TEST_F(ExtractStageTest, ABadArchiveFailsTheStageButTheOthersAreStillExtracted) {
    Write("TmpPatch/bad.zip", "not an archive");
    Put("good.zip", Archive("good"));

    EXPECT_FALSE(
        Extract({Entry(L"1.0.2", L"http://h/good.zip"), Entry(L"1.0.1", L"http://h/bad.zip")}));
    EXPECT_EQ(Folders(),
              (Tree{{"1.0.1/", ""}, {"1.0.2/", ""}, {"1.0.2/d/", ""}, {"1.0.2/d/v.txt", "good"}}));
}

// The log names the cause: a refused or damaged entry is invalid data, whatever error code the
// calls before it left behind; a file that cannot be written names the system's reason.
TEST_F(ExtractStageTest, AFailedArchiveReportsInvalidDataOrTheSystemsReason) {
    ZipBuilder hostile;
    hostile.Dir("d").Dir("d/e").File("d/e/v.txt", "v").File("../outside.txt", "x");
    Put("hostile.zip", hostile);
    FileFailure refused;
    EXPECT_FALSE(Extract({Entry(L"1.0.1", L"http://h/hostile.zip")}, &refused));
    EXPECT_EQ(refused.error, static_cast<DWORD>(ERROR_INVALID_DATA));

    // "f" is a file and the folder of "f/g.txt": the folder is made first, the file then fails.
    ZipBuilder clash;
    clash.File("f", "file").File("f/g.txt", "g");
    Put("clash.zip", clash);
    FileFailure unwritable;
    EXPECT_FALSE(Extract({Entry(L"1.0.1", L"http://h/clash.zip")}, &unwritable));
    EXPECT_EQ(unwritable.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));

    Write("TmpPatch/damaged.zip", "not an archive");
    FileFailure damaged;
    EXPECT_FALSE(Extract({Entry(L"1.0.1", L"http://h/damaged.zip")}, &damaged));
    EXPECT_EQ(damaged.error, static_cast<DWORD>(ERROR_INVALID_DATA));
}

// A missing archive would drop a patch from the install while the repair reports success.
TEST_F(ExtractStageTest, AMissingArchiveOrNothingToExtractFailsTheStage) {
    Put("here.zip", Archive("here"));
    EXPECT_FALSE(
        Extract({Entry(L"1.0.2", L"http://h/here.zip"), Entry(L"1.0.1", L"http://h/gone.zip")}));
    EXPECT_EQ(Read("TmpPatch/1.0.2/d/v.txt"), "here");

    EXPECT_FALSE(Extract({}));
}

// The patch list comes from the network: a version or file name that is not one plain name
// must not empty or create folders outside the temporary folder, nor replace "All".
TEST_F(ExtractStageTest, VersionsAndNamesThatAreNotPlainNamesAreRefused) {
    Write("victim/keep.txt", "keep");
    Write("TmpPatch/All/merged.txt", "merged");
    Put("a.zip", Archive("a"));
    const Tree before = qxtest::SnapshotTree(client_.host());

    for (const wchar_t* version : {L"..\\victim", L"1.0.1/../../victim", L"..", L"All", L"C:x"}) {
        FileFailure failure;
        EXPECT_FALSE(Extract({Entry(version, L"http://h/a.zip")}, &failure)) << version;
        EXPECT_TRUE(failure.refused) << version;
    }
    EXPECT_FALSE(Extract({Entry(L"1.0.1", L"http://h/..\\victim\\keep.txt")}));
    EXPECT_EQ(qxtest::SnapshotTree(client_.host()), before);
}

}  // namespace
