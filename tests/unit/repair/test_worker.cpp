// The repair worker end to end in the process: the real dialog is pressed, the worker downloads
// archives from a server on 127.0.0.1, unpacks, merges, backs up and installs them into the
// temporary client folder. Each case compares the client's "Documents", the boxes and the
// dialog's final state.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "net/http_client.h"
#include "patchlist/patch_list.h"
#include "platform/posix/syscalls.h"
#include "repair/download_stage.h"
#include "repair/journal.h"
#include "state/app_state.h"
#include "ui/progress_state.h"
#include "ui/resource.h"
#include "repair_fixture.h"
#include "support/dialog_run.h"
#include "support/temp_dir.h"
#include "support/test_server.h"
#include "support/zip_builder.h"
#include "ui/repair_dialog.h"

namespace {

using qxtest::Box;
using Tree = std::map<std::string, std::string>;

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

class WorkerTest : public RepairFolderTest {
  protected:
    void SetUp() override {
        RepairFolderTest::SetUp();
        g_latestVersionText = L"1.0.2";
        g_actionMode = ACTION_REPAIR;

        Write("findownload.dat", "1.0.0");
        Write("Documents/keep.txt", "keep");
        Write("Documents/pkres/old.txt", "old");
        Write("Documents/subver/v.txt", "v0");
        original_ = Documents();

        // 1.0.1 and 1.0.2, and the cumulative patch of the 1.0 line.
        Serve(
            "1.0.1", "/r/1.0.1/p101.zip",
            qxtest::ZipBuilder().Dir("pkres").File("pkres/a.txt", "a1").File("pkres/b.txt", "b1"));
        Serve("1.0.2", "/r/1.0.2/p102.zip",
              qxtest::ZipBuilder()
                  .Dir("pkres")
                  .Dir("subver")
                  .File("pkres/a.txt", "a2")
                  .File("subver/v.txt", "v2"));
        Put("/r/1.0.2/patch1.0.1.qx.all.win32",
            qxtest::ZipBuilder().Dir("qatools").File("qatools/t.txt", "t").Bytes());
        ASSERT_EQ(PrepareTmpPatchFolder(), 1);
    }

    void TearDown() override {
        qx::ClearFaults();
        qx::ResetSyscalls();
    }

    // A file on the server under the URL path `urlPath` ("/a/b.zip").
    void Put(const std::string& urlPath, const std::string& content) {
        server_.PutFile(urlPath.substr(1), content);
    }

    void Serve(const std::string& version, const std::string& path, const qxtest::ZipBuilder& zip) {
        Put(path, zip.Bytes());
        PatchEntry entry;
        entry.version = Wide(version);
        entry.url = Wide(server_.Url(path));
        g_patchList.push_back(entry);
    }

    qxtest::DialogRunResult PressRepair() {
        return qxtest::RunDialog(RepairDlgProc, {"press", "", nullptr},
                                 scratch_.host("transcript.jsonl"));
    }

    Tree Documents() const { return Snapshot("Documents"); }

    qxtest::TempDir scratch_;
    qxtest::TestServer server_;
    Tree original_;
};

TEST_F(WorkerTest, ASuccessfulRepairInstallsTheMergedTreeAndOffersTheLaunch) {
    const qxtest::DialogRunResult run = PressRepair();

    EXPECT_TRUE(qxtest::BoxesOf(run.events).empty());
    EXPECT_EQ(Documents(), (Tree{{"keep.txt", "keep"},
                                 {"pkres/", ""},
                                 {"pkres/a.txt", "a2"},
                                 {"pkres/b.txt", "b1"},
                                 {"qatools/", ""},
                                 {"qatools/t.txt", "t"},
                                 {"subver/", ""},
                                 {"subver/v.txt", "v2"}}));
    EXPECT_FALSE(Exists("TmpPatch"));
    EXPECT_EQ(g_actionMode, ACTION_LAUNCH);

    const auto state = [&](int id) { return qxtest::FinalControlState(run.events, id); };
    EXPECT_EQ(state(IDC_PROGRESS).pos, 100);
    EXPECT_FALSE(state(IDC_PROGRESS).visible);
    EXPECT_FALSE(state(IDC_STATUS).visible);
    EXPECT_EQ(state(IDC_STATUS).text, "正在删除临时文件");
    EXPECT_FALSE(state(IDC_DOWNLOAD_COUNT).visible);
    EXPECT_FALSE(state(IDC_DOWNLOAD_SPEED).visible);
    EXPECT_TRUE(state(IDC_HINT).visible);
    EXPECT_EQ(state(IDC_HINT).text, "修复成功！可启动游戏。");
    EXPECT_TRUE(state(IDC_ACTION).enabled);
    EXPECT_EQ(state(IDC_ACTION).text, "启动游戏");
    EXPECT_EQ(state(IDC_DOWNLOAD_COUNT).text, "(3/3)，速度：");

    // The launch button comes first (enabled, then its text), then the hint replaces the panel.
    const auto& events = run.events;
    const auto at = [&](const char* id, const char* key, const char* value) {
        return std::find_if(events.begin(), events.end(),
                            [&](const auto& e) {
                                return e.Get("event") == "control" && e.Get("id") == id &&
                                       e.Get(key) == value;
                            }) -
               events.begin();
    };
    EXPECT_LT(at("1006", "enabled", "true"), at("1006", "text", "启动游戏"));
    EXPECT_LT(at("1006", "text", "启动游戏"), at("1005", "visible", "true"));
    EXPECT_LT(at("1005", "visible", "true"), at("1005", "text", "修复成功！可启动游戏。"));

    // The closing steps advance from the extraction's 90 by 3, 3, 3 and 1.
    const std::vector<int> positions = qxtest::PositionsOf(run.events, IDC_PROGRESS);
    ASSERT_GE(positions.size(), 4u);
    EXPECT_EQ(std::vector<int>(positions.end() - 4, positions.end()),
              (std::vector<int>{93, 96, 99, 100}));
}

TEST_F(WorkerTest, AFailedDownloadStopsBeforeExtractionWithTheCountStillShown) {
    server_.SetRule("/r/1.0.1/p101.zip", R"({"status": 404})");

    const qxtest::DialogRunResult run = PressRepair();

    const std::vector<Box> boxes = qxtest::BoxesOf(run.events);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "下载Patch网络异常，错误信息：HTTP 404");
    EXPECT_EQ(boxes[1], (Box{"提示", "下载patch失败"}));
    EXPECT_TRUE(qxtest::FinalControlState(run.events, IDC_DOWNLOAD_COUNT).visible);
    EXPECT_TRUE(qxtest::FinalControlState(run.events, IDC_DOWNLOAD_SPEED).visible);
    EXPECT_FALSE(qxtest::FinalControlState(run.events, IDC_ACTION).enabled);
    EXPECT_EQ(Documents(), original_);
    EXPECT_TRUE(Exists("TmpPatch"));
    EXPECT_EQ(g_actionMode, ACTION_REPAIR);
}

TEST_F(WorkerTest, ADamagedArchiveStopsTheRunAfterTheDownloadWithTheClientUntouched) {
    Put("/r/1.0.2/p102.zip", "not a zip archive");

    const qxtest::DialogRunResult run = PressRepair();

    EXPECT_EQ(qxtest::BoxesOf(run.events), (std::vector<Box>{{"提示", "解压patch失败"}}));
    EXPECT_FALSE(qxtest::FinalControlState(run.events, IDC_DOWNLOAD_COUNT).visible);
    EXPECT_FALSE(qxtest::FinalControlState(run.events, IDC_DOWNLOAD_SPEED).visible);
    EXPECT_EQ(Documents(), original_);
    EXPECT_EQ(g_actionMode, ACTION_REPAIR);
}

TEST_F(WorkerTest, AFailedInstallCopyPutsTheOldPatchFoldersBack) {
    // The new tree brings a file that cannot replace the read-only one in "Documents".
    Put("/r/1.0.2/p102.zip", qxtest::ZipBuilder()
                                 .Dir("pkres")
                                 .File("pkres/a.txt", "a2")
                                 .File("keep.txt", "new")
                                 .Bytes());
    chmod(client_.host("Documents/keep.txt").c_str(), 0444);

    const qxtest::DialogRunResult run = PressRepair();

    EXPECT_EQ(qxtest::BoxesOf(run.events), (std::vector<Box>{{"提示", "拷贝patch失败"}}));
    Tree documents = Documents();
    documents.erase("qatools/");  // a folder the client did not have stays with what was copied
    documents.erase("qatools/t.txt");
    EXPECT_EQ(documents, original_);
    EXPECT_TRUE(Exists("TmpPatch"));
    EXPECT_EQ(g_actionMode, ACTION_REPAIR);
    EXPECT_EQ(qxtest::FinalControlState(run.events, IDC_STATUS).text, "正在安装新补丁");
    EXPECT_EQ(qxtest::FinalControlState(run.events, IDC_PROGRESS).pos, 96);
    EXPECT_FALSE(qxtest::FinalControlState(run.events, IDC_ACTION).enabled);
}

// The whole repair moves: on one volume it copies nothing. Where every move is refused (another
// volume), it copies instead, with the same result.
TEST_F(WorkerTest, ARepairMovesAndARefusedMoveCopiesToTheSameResult) {
    const Tree repaired = {{"keep.txt", "keep"},  {"pkres/", ""},        {"pkres/a.txt", "a2"},
                           {"pkres/b.txt", "b1"}, {"qatools/", ""},      {"qatools/t.txt", "t"},
                           {"subver/", ""},       {"subver/v.txt", "v2"}};
    qx::InjectFault(qx::Sys::Copy, 1, EIO);
    qxtest::DialogRunResult run = PressRepair();
    EXPECT_TRUE(qxtest::BoxesOf(run.events).empty());
    EXPECT_EQ(Documents(), repaired);
    qx::ClearFaults();

    Write("Documents/pkres/old.txt", "old");
    Write("Documents/subver/v.txt", "v0");
    std::filesystem::remove_all(client_.host("Documents/qatools"));
    std::filesystem::remove(client_.host("Documents/pkres/a.txt"));
    std::filesystem::remove(client_.host("Documents/pkres/b.txt"));
    g_actionMode = ACTION_REPAIR;
    g_progressBase = 0;
    ASSERT_EQ(PrepareTmpPatchFolder(), 1);
    qx::Syscalls().rename = [](const char*, const char*, unsigned int) {
        errno = EXDEV;
        return -1;
    };
    run = PressRepair();
    qx::ResetSyscalls();
    EXPECT_TRUE(qxtest::BoxesOf(run.events).empty());
    EXPECT_EQ(Documents(), repaired);
    EXPECT_FALSE(Exists("TmpPatch"));
}

// A refused move leaves a folder to copy; a read-only file in it stops the removal. The folders
// go back (the one moved, by rename), and the box shows under the backup's text.
TEST_F(WorkerTest, AFailedRemovalPutsTheFoldersBackAndShowsItsBoxUnderTheBackupText) {
    chmod(client_.host("Documents/pkres/old.txt").c_str(), 0444);
    qx::InjectFault(qx::Sys::Rename, 1, EXDEV, "OrgPatch/pkres");

    const qxtest::DialogRunResult run = PressRepair();

    EXPECT_EQ(qxtest::BoxesOf(run.events), (std::vector<Box>{{"提示", "删除残留patch失败"}}));
    EXPECT_EQ(qxtest::FinalControlState(run.events, IDC_STATUS).text, "正在备份原补丁");
    EXPECT_EQ(qxtest::FinalControlState(run.events, IDC_PROGRESS).pos, 93);
    EXPECT_EQ(Documents(), original_);
    EXPECT_EQ(ReadRepairJournal(), RepairJournalState::None);
}

}  // namespace
