// The five progress messages as the dialog handles them: bar positions through a download and
// an extraction phase, the speed label, and the count and status texts. The messages are sent
// from a program thread one at a time, so each sees the shared values the test set for it.
#include <cmath>
#include <functional>

#include "dialog_fixture.h"
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

TEST_F(ProgressMessagesTest, ThreeFilesEndTheDownloadAt69AndExtractionAlwaysEndsAt90) {
    auto steps = [](HWND dialog) {
        g_downloadTotal = 3;
        g_downloadScale = (1.0f / 3) * 0.7f;  // each file adds lroundf(23.33) = 23
        for (int file = 1; file <= 3; ++file) {
            Download(dialog, file, 0);  // the first file moves to 0; later ones clear the latch
            Download(dialog, file, 50);
            Download(dialog, file, 100);
            Download(dialog, file, 100);  // repeated 100 %: folded in once
        }
        g_extractTotal = 2;
        g_extractScale = (1.0f / 2) * 0.2f;
        Extract(dialog, 0);
        Extract(dialog, 50);
        Extract(dialog, 100);
        Extract(dialog, 100);
        Extract(dialog, 0);
        Extract(dialog, 50);
        Extract(dialog, 100);
    };

    const qxtest::DialogRunResult run = RunWith(steps);

    EXPECT_EQ(Moves(qxtest::PositionsOf(run.events, IDC_PROGRESS)),
              (std::vector<int>{12, 23, 35, 46, 58, 69, 74, 79, 90, 95, 100, 90}));
    EXPECT_EQ(g_progressBase, 90);
    EXPECT_TRUE(g_downloadDoneLatch);
    EXPECT_TRUE(g_extractDoneLatch);
}

TEST_F(ProgressMessagesTest, TheNextFilesFirstNotificationOnlyClearsTheLatch) {
    std::vector<int> baseAfter;
    auto steps = [&](HWND dialog) {
        g_downloadTotal = 2;
        g_downloadScale = (1.0f / 2) * 0.7f;
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
        g_downloadTotal = 2;
        g_downloadScale = (1.0f / 2) * 0.7f;
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
        g_downloadTotal = 2;
        g_downloadScale = (1.0f / 2) * 0.7f;
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
        g_downloadTotal = 1;
        g_downloadScale = 0.7f;
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
        SendMessageW(dialog, WM_DOWNLOAD_STARTED, 0, 0);
        g_downloadDone = 2;
        g_downloadTotal = 5;
        SendMessageW(dialog, WM_DOWNLOAD_COUNT, 0, 0);
        g_extractDone = 1;
        g_extractTotal = 3;
        SendMessageW(dialog, WM_EXTRACT_COUNT, 0, 0);
    };

    const qxtest::DialogRunResult run = RunWith(steps);

    EXPECT_EQ(qxtest::TextsOf(run.events, IDC_STATUS),
              (std::vector<std::string>{"正在下载补丁文件", "正在解压补丁文件(1/3)"}));
    EXPECT_EQ(qxtest::TextsOf(run.events, IDC_DOWNLOAD_COUNT),
              (std::vector<std::string>{"(2/5)，速度："}));
}

}  // namespace
