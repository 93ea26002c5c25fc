// The extraction stage in a temporary client folder: every archive unpacked oldest first into a
// folder named after its version, the cumulative patch into a folder of its own, the counters
// and messages the dialog reads, and what makes the stage fail.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "fsutil/file_failure.h"
#include "net/http_client.h"
#include "patchlist/patch_list.h"
#include "repair/extract_stage.h"
#include "state/app_state.h"
#include "state/progress_state.h"
#include "repair_fixture.h"
#include "support/dialog_run.h"
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

TEST_F(ExtractStageTest, EachArchiveGoesIntoTheFolderOfItsVersion) {
    Put("c.zip", Archive("1.0.3"));
    Put("b.zip", Archive("1.0.2"));
    Put("a.zip", Archive("1.0.1"));
    const std::vector<PatchEntry> downloads{Entry(L"1.0.3", L"http://h/p/1.0.3/c.zip"),
                                            Entry(L"1.0.2", L"http://h/b.zip"),
                                            Entry(L"1.0.1", L"a.zip")};

    EXPECT_TRUE(ExtractPatches(downloads));
    EXPECT_EQ(Folders(), (Tree{{"1.0.1/", ""},
                               {"1.0.1/d/", ""},
                               {"1.0.1/d/v.txt", "1.0.1"},
                               {"1.0.2/", ""},
                               {"1.0.2/d/", ""},
                               {"1.0.2/d/v.txt", "1.0.2"},
                               {"1.0.3/", ""},
                               {"1.0.3/d/", ""},
                               {"1.0.3/d/v.txt", "1.0.3"}}));
    EXPECT_EQ(g_extractTotal, 4);
    EXPECT_EQ(g_extractDone, 3);
    EXPECT_EQ(g_extractScale, (1.0f / 4) * 0.2f);
}

// Two entries of one version share a folder, which each extraction empties first: the folder
// keeps the archive extracted last, the list's first element.
TEST_F(ExtractStageTest, TheListIsExtractedFromItsLastElementToItsFirst) {
    Put("new.zip", Archive("first element"));
    Put("old.zip", Archive("second element"));
    EXPECT_TRUE(ExtractPatches(
        {Entry(L"1.0.5", L"http://h/new.zip"), Entry(L"1.0.5", L"http://h/old.zip")}));
    EXPECT_EQ(Read("TmpPatch/1.0.5/d/v.txt"), "first element");
}

// The messages as the dialog receives them: a count before each archive, then the percentage
// after each file written; the four-file archive, the list's last element, comes first.
TEST_F(ExtractStageTest, TheDialogHearsACountPerArchiveAndAPercentagePerFile) {
    ZipBuilder four;
    four.File("1", "a").File("2", "b").File("3", "c").File("4", "d");
    Put("four.zip", four);
    Put("one.zip", Archive("x"));
    const std::vector<PatchEntry> downloads{Entry(L"1.0.2", L"http://h/one.zip"),
                                            Entry(L"1.0.1", L"http://h/four.zip")};
    static std::vector<std::string> heard;
    heard.clear();
    DLGPROC recorder = [](HWND dialog, UINT msg, WPARAM wParam, LPARAM) -> INT_PTR {
        if (msg == WM_CLOSE) {
            EndDialog(dialog, 0);
        } else if (msg == WM_EXTRACT_COUNT) {
            heard.push_back("count");
        } else if (msg == WM_EXTRACT_PROGRESS) {
            heard.push_back(std::to_string(wParam));
        }
        return msg == WM_INITDIALOG;
    };
    bool result = false;
    qxtest::DialogRunOptions options;
    options.whileOpen = [&](HWND dialog) {
        g_hMainDlg = dialog;
        result = ExtractPatches(downloads);
    };
    qxtest::RunDialog(recorder, options, client_.host("transcript.jsonl"));
    g_hMainDlg = nullptr;

    EXPECT_TRUE(result);
    EXPECT_EQ(heard, (std::vector<std::string>{"count", "25", "50", "75", "100", "count", "100"}));
}

// V = 1.0.1 is also the version of a list entry: the cumulative patch must not take its folder.
TEST_F(ExtractStageTest, TheCumulativePatchGoesIntoItsOwnFolderAfterTheList) {
    g_patchList = {Entry(L"1.0.1", L"http://h/a.zip"), Entry(L"1.0.7", L"http://h/b.zip")};
    GetHttpClient()->cumulativePatchPresent = true;
    Put("a.zip", Archive("entry 1.0.1"));
    Put("patch1.0.1.qx.all.win32", Archive("cumulative"));

    EXPECT_TRUE(ExtractPatches({Entry(L"1.0.1", L"http://h/a.zip")}));
    EXPECT_EQ(Read("TmpPatch/1.0.1/d/v.txt"), "entry 1.0.1");
    EXPECT_EQ(Read("TmpPatch/patch1.0.1/d/v.txt"), "cumulative");
    EXPECT_EQ(g_extractTotal, 2);
    EXPECT_EQ(g_extractDone, 2);
}

TEST_F(ExtractStageTest, ACumulativeArchiveLyingAroundIsIgnoredUnlessTheServerHadIt) {
    g_patchList = {Entry(L"7", L"http://h/a.zip")};
    Put("a.zip", Archive("a"));
    Put("patch7.1.qx.all.win32", Archive("cumulative"));

    EXPECT_TRUE(ExtractPatches({Entry(L"7", L"http://h/a.zip")}));
    EXPECT_FALSE(Exists("TmpPatch/patch7.1"));

    GetHttpClient()->cumulativePatchPresent = true;
    EXPECT_TRUE(ExtractPatches({}));
    EXPECT_EQ(Read("TmpPatch/patch7.1/d/v.txt"), "cumulative");
}

TEST_F(ExtractStageTest, ABadArchiveFailsTheStageButTheOthersAreStillExtracted) {
    Write("TmpPatch/bad.zip", "not an archive");
    Put("good.zip", Archive("good"));

    EXPECT_FALSE(ExtractPatches(
        {Entry(L"1.0.2", L"http://h/good.zip"), Entry(L"1.0.1", L"http://h/bad.zip")}));
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
    EXPECT_FALSE(ExtractPatches({Entry(L"1.0.1", L"http://h/hostile.zip")}, &refused));
    EXPECT_EQ(refused.call, L"ExtractArchive");
    EXPECT_EQ(refused.error, static_cast<DWORD>(ERROR_INVALID_DATA));

    // "f" is a file and the folder of "f/g.txt": the folder is made first, the file then fails.
    ZipBuilder clash;
    clash.File("f", "file").File("f/g.txt", "g");
    Put("clash.zip", clash);
    FileFailure unwritable;
    EXPECT_FALSE(ExtractPatches({Entry(L"1.0.1", L"http://h/clash.zip")}, &unwritable));
    EXPECT_EQ(unwritable.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));

    Write("TmpPatch/damaged.zip", "not an archive");
    FileFailure damaged;
    EXPECT_FALSE(ExtractPatches({Entry(L"1.0.1", L"http://h/damaged.zip")}, &damaged));
    EXPECT_EQ(damaged.error, static_cast<DWORD>(ERROR_INVALID_DATA));
}

// A missing archive would drop a patch from the install while the repair reports success.
TEST_F(ExtractStageTest, AMissingArchiveOrNothingToExtractFailsTheStage) {
    Put("here.zip", Archive("here"));
    EXPECT_FALSE(ExtractPatches(
        {Entry(L"1.0.2", L"http://h/here.zip"), Entry(L"1.0.1", L"http://h/gone.zip")}));
    EXPECT_EQ(Read("TmpPatch/1.0.2/d/v.txt"), "here");

    EXPECT_FALSE(ExtractPatches({}));
}

// The patch list comes from the network: a version or file name that is not one plain name
// must not empty or create folders outside the temporary folder, nor replace "All".
TEST_F(ExtractStageTest, VersionsAndNamesThatAreNotPlainNamesAreRefused) {
    Write("victim/keep.txt", "keep");
    Write("TmpPatch/All/merged.txt", "merged");
    Put("a.zip", Archive("a"));
    const Tree before = qxtest::SnapshotTree(client_.host());

    for (const wchar_t* version : {L"..\\victim", L"1.0.1/../../victim", L"..", L"All", L"C:x"}) {
        EXPECT_FALSE(ExtractPatches({Entry(version, L"http://h/a.zip")})) << version;
    }
    EXPECT_FALSE(ExtractPatches({Entry(L"1.0.1", L"http://h/..\\victim\\keep.txt")}));
    EXPECT_EQ(qxtest::SnapshotTree(client_.host()), before);
}

}  // namespace
