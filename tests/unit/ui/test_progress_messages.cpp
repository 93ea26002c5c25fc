// The messages of a repair as the dialog handles them: bar positions through the download, the
// extraction and the closing steps, the speed label, and the count and status texts. The messages
// are sent from a program thread one at a time, in the order a repair posts them.
#include <cmath>
#include <functional>

#include <algorithm>
#include <string>
#include <vector>

#include "dialog_fixture.h"
#include "repair/repair_observer.h"
#include "ui/progress_messages.h"

namespace {

std::wstring SpeedText(uint32_t bytes) {
    wchar_t text[100] = {};
    FormatSpeedText(bytes, text, 100);
    return text;
}

TEST(SpeedText, KilobytesBelow1024ThenMegabytesBothTruncatedToTwoDecimals) {
    EXPECT_EQ(SpeedText(0), L"0.00KB/s");
    EXPECT_EQ(SpeedText(512), L"0.50KB/s");
    EXPECT_EQ(SpeedText(1000), L"0.97KB/s");  // 0.9765625 KB: truncated, not rounded
    EXPECT_EQ(SpeedText(1048575), L"1023.99KB/s");
    EXPECT_EQ(SpeedText(1048576), L"1.00MB/s");
    EXPECT_EQ(SpeedText(1572864), L"1.50MB/s");
    EXPECT_EQ(SpeedText(2097151), L"1.99MB/s");
    EXPECT_EQ(SpeedText(0xFFFFFFFFu), L"4096.00MB/s");
}

// Consecutive equal positions collapse: the transcript records changes only.
std::vector<int> Moves(const std::vector<int>& positions) {
    std::vector<int> moves;
    for (int p : positions)
        if (moves.empty() || moves.back() != p)
            moves.push_back(p);
    return moves;
}

class ProgressMessagesTest : public DialogTest {
  protected:
    qxtest::DialogRunResult RunWith(std::function<void(HWND)> steps) {
        return Run({"", "", steps});
    }
};

// A progress notification of the transfer with this number (the first is 1).
void Download(HWND dialog, int transfer, int percent) {
    SendMessageW(dialog, WM_DOWNLOAD_PROGRESS, static_cast<WPARAM>(percent),
                 static_cast<LPARAM>(transfer));
}

void Extract(HWND dialog, int percent) {
    SendMessageW(dialog, WM_EXTRACT_PROGRESS, static_cast<WPARAM>(percent), 0);
}

void Step(HWND dialog, RepairStep step) {
    SendMessageW(dialog, WM_REPAIR_STEP, static_cast<WPARAM>(step), 0);
}

// The messages of a whole repair that fetches `downloads` archives (the cumulative patch among
// them when `cumulative`), each reported at 0, 50 and 100 %, and unpacks each in two files.
void Repair(HWND dialog, int downloads, bool cumulative) {
    const int announced = downloads + (cumulative ? 0 : 1);
    SendMessageW(dialog, WM_DOWNLOAD_STARTED, static_cast<WPARAM>(announced), 0);
    for (int file = 1; file <= downloads; ++file) {
        SendMessageW(dialog, WM_DOWNLOAD_COUNT, static_cast<WPARAM>(file), 0);
        for (int percent : {0, 50, 100, 100}) {
            Download(dialog, file, percent);
        }
    }
    Step(dialog, RepairStep::DownloadsDone);
    for (int archive = 1; archive <= downloads; ++archive) {
        SendMessageW(dialog, WM_EXTRACT_COUNT, static_cast<WPARAM>(archive),
                     static_cast<LPARAM>(announced));
        Extract(dialog, 50);
        Extract(dialog, 100);
    }
    for (RepairStep step :
         {RepairStep::ExtractionDone, RepairStep::MergeBegun, RepairStep::MergeDone,
          RepairStep::BackupBegun, RepairStep::RemovalDone, RepairStep::InstallBegun,
          RepairStep::InstallDone, RepairStep::CleanUpBegun, RepairStep::Repaired}) {
        Step(dialog, step);
    }
}

// Whatever the number of archives and the rounding of their shares, the bar only moves forward,
// the extraction ends at 90 and the repair at 100.
TEST_F(ProgressMessagesTest, TheBarOnlyMovesForwardAndEndsAt100) {
    for (const int downloads : {1, 2, 3, 6, 7, 9, 101, 150}) {
        for (const bool cumulative : {false, true}) {
            SetUp();  // a new process for each repair
            const qxtest::DialogRunResult run =
                RunWith([&](HWND dialog) { Repair(dialog, downloads, cumulative); });
            const std::vector<int> positions = qxtest::PositionsOf(run.events, IDC_PROGRESS);
            const std::string context =
                std::to_string(downloads) + (cumulative ? " with" : " without") + " cumulative";
            EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end())) << context;
            ASSERT_GE(positions.size(), 5u) << context;
            EXPECT_EQ(std::vector<int>(positions.end() - 5, positions.end()),
                      (std::vector<int>{90, 93, 96, 99, 100}))
                << context;
            EXPECT_EQ(g_actionMode, ACTION_LAUNCH);
        }
    }
}

// Three files of a list with no cumulative patch on the server: each adds lroundf(100 * 0.7 / 4)
// = 18, each archive lroundf(100 * 0.2 / 4) = 5 (the first report of the next archive only clears
// the latch); the extraction still ends at 90.
TEST_F(ProgressMessagesTest, EachFileAndArchiveAddsItsShare) {
    const qxtest::DialogRunResult run = RunWith([](HWND dialog) { Repair(dialog, 3, false); });
    EXPECT_EQ(Moves(qxtest::PositionsOf(run.events, IDC_PROGRESS)),
              (std::vector<int>{9, 18, 27, 36, 45, 54, 57, 59, 64, 69, 90, 93, 96, 99, 100}));
    EXPECT_EQ(g_progressBase, 100);
}

TEST_F(ProgressMessagesTest, TheNextFilesFirstNotificationOnlyClearsTheLatch) {
    std::vector<int> baseAfter;
    auto steps = [&](HWND dialog) {
        SendMessageW(dialog, WM_DOWNLOAD_STARTED, 2, 0);
        Download(dialog, 1, 100);  // 35 becomes the base
        Download(dialog, 2, 30);   // next file: latch cleared, bar stays at 35
        baseAfter.push_back(g_progressBase);
        Download(dialog, 2, 30);  // now it moves: 35 + lroundf(10.5) = 46
        Download(dialog, 2, 100);
        baseAfter.push_back(g_progressBase);
    };

    const qxtest::DialogRunResult run = RunWith(steps);

    EXPECT_EQ(Moves(qxtest::PositionsOf(run.events, IDC_PROGRESS)), (std::vector<int>{35, 46, 70}));
    EXPECT_EQ(baseAfter, (std::vector<int>{35, 70}));
}

// A transfer fetched again after its 100 % (its archive failed the hash check) keeps the bar at
// its end, while the speed label follows the new body; the next transfer moves on from there.
TEST_F(ProgressMessagesTest, ATransferFetchedAgainIsCountedOnce) {
    auto steps = [](HWND dialog) {
        SendMessageW(dialog, WM_DOWNLOAD_STARTED, 2, 0);
        Download(dialog, 1, 50);
        Download(dialog, 1, 100);
        g_speedBytes = 2048;
        Download(dialog, 1, 0);  // the same archive again, from zero
        Download(dialog, 1, 60);
        Download(dialog, 1, 100);
        Download(dialog, 2, 0);
        Download(dialog, 2, 50);
        Download(dialog, 2, 100);
    };

    const qxtest::DialogRunResult run = RunWith(steps);

    EXPECT_EQ(Moves(qxtest::PositionsOf(run.events, IDC_PROGRESS)),
              (std::vector<int>{18, 35, 53, 70}));
    EXPECT_EQ(qxtest::TextsOf(run.events, IDC_DOWNLOAD_SPEED),
              (std::vector<std::string>{"2.00KB/s"}));
    EXPECT_EQ(g_progressBase, 70);
}

TEST_F(ProgressMessagesTest, PercentagesOutsideZeroTo100NeverPushTheBarPastTheFilesShare) {
    auto steps = [](HWND dialog) {
        SendMessageW(dialog, WM_DOWNLOAD_STARTED, 2, 0);
        Download(dialog, 1, 250);  // as 100 %: 35
        Download(dialog, 2, 0);
        Download(dialog, 2, -1);  // taken as unsigned: a huge percentage, again one share
    };

    const qxtest::DialogRunResult run = RunWith(steps);

    EXPECT_EQ(Moves(qxtest::PositionsOf(run.events, IDC_PROGRESS)), (std::vector<int>{35, 70}));
    EXPECT_EQ(g_progressBase, 70);
}

TEST_F(ProgressMessagesTest, SpeedLabelFollowsChangedDeltasAndEmptiesAt100) {
    std::wstring afterUnchanged;
    auto steps = [&](HWND dialog) {
        HWND speed = GetDlgItem(dialog, IDC_DOWNLOAD_SPEED);
        SendMessageW(dialog, WM_DOWNLOAD_STARTED, 1, 0);
        g_speedBytes = 512;
        Download(dialog, 1, 10);
        SetWindowTextW(speed, L"marker");  // an unchanged delta must leave the label alone
        Download(dialog, 1, 20);
        wchar_t text[100] = {};
        GetWindowTextW(speed, text, 100);
        afterUnchanged = text;
        g_speedBytes = 1000;
        Download(dialog, 1, 30);
        g_speedBytes = 1572864;
        Download(dialog, 1, 40);
        g_speedBytes = 2000;
        Download(dialog, 1, 100);  // a changed delta at 100 % empties the label
    };

    const qxtest::DialogRunResult run = RunWith(steps);

    EXPECT_EQ(afterUnchanged, L"marker");
    EXPECT_EQ(qxtest::TextsOf(run.events, IDC_DOWNLOAD_SPEED),
              (std::vector<std::string>{"0.50KB/s", "marker", "0.97KB/s", "1.50MB/s", ""}));
    EXPECT_EQ(g_shownSpeedBytes, 2000u);
}

TEST_F(ProgressMessagesTest, CountAndStatusTexts) {
    auto steps = [](HWND dialog) {
        SendMessageW(dialog, WM_DOWNLOAD_STARTED, 5, 0);
        SendMessageW(dialog, WM_DOWNLOAD_COUNT, 2, 0);
        SendMessageW(dialog, WM_EXTRACT_COUNT, 1, 3);
        for (RepairStep step : {RepairStep::MergeBegun, RepairStep::BackupBegun,
                                RepairStep::InstallBegun, RepairStep::CleanUpBegun}) {
            Step(dialog, step);
        }
    };

    const qxtest::DialogRunResult run = RunWith(steps);

    EXPECT_EQ(
        qxtest::TextsOf(run.events, IDC_STATUS),
        (std::vector<std::string>{"正在下载补丁文件", "正在解压补丁文件(1/3)", "正在合并临时补丁",
                                  "正在备份原补丁", "正在安装新补丁", "正在删除临时文件"}));
    EXPECT_EQ(qxtest::TextsOf(run.events, IDC_DOWNLOAD_COUNT),
              (std::vector<std::string>{"(2/5)，速度："}));
}

}  // namespace
