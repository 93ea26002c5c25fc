// The transfer callbacks called directly: the speed sampling behind the dialog's speed display,
// and the refusal of file writes before writing is enabled.
#include <cstdio>

#include "state/log.h"
#include "net/http_callbacks.h"
#include "net/http_client.h"
#include "net_fixture.h"
#include "state/progress_state.h"

namespace qxtest {
namespace {

using TransferCallbacksTest = NetTest;

struct Sample {
    int64_t prevDlNow;
    uint32_t speedBytes;
    bool operator==(const Sample& o) const {
        return prevDlNow == o.prevDlNow && speedBytes == o.speedBytes;
    }
};

std::ostream& operator<<(std::ostream& os, const Sample& s) {
    return os << "{prev " << s.prevDlNow << ", speed " << s.speedBytes << "}";
}

// A report of `now` bytes, `ms` milliseconds into the transfer.
Sample Report(int64_t now, int64_t ms) {
    SampleDownloadSpeed(now, ms);
    return Sample{g_prevDlNow, g_speedBytes};
}

TEST_F(TransferCallbacksTest, AReportBeforeTheSizeIsKnownChangesNothing) {
    g_speedBytes = 77;
    EXPECT_EQ(DownloadProgressCallback(nullptr, 0.05, 500.0, 0.0, 0.0), 0);
    EXPECT_EQ(DownloadProgressCallback(nullptr, -0.05, 500.0, 0.0, 0.0), 0);
    EXPECT_EQ((Sample{g_prevDlNow, g_speedBytes}), (Sample{0, 77}));
}

// libcurl reports many times a second, mostly with a few bytes or none: the label shows the bytes
// per second over half-second windows, not the growth between two reports.
TEST_F(TransferCallbacksTest, SpeedIsBytesPerSecondOverHalfASecondOrMore) {
    g_speedBytes = 77;                                   // the figure of the transfer before
    EXPECT_EQ(Report(100, 10000), (Sample{100, 77}));    // first report: a new window
    EXPECT_EQ(Report(100, 10100), (Sample{100, 77}));    // nothing new, the window still open
    EXPECT_EQ(Report(400, 10300), (Sample{400, 77}));    // the window still open
    EXPECT_EQ(Report(600, 10500), (Sample{600, 1000}));  // 500 bytes in half a second
    EXPECT_EQ(Report(600, 10600), (Sample{600, 1000}));  // a report with nothing new keeps it
    EXPECT_EQ(Report(3600, 12500), (Sample{3600, 1500}));
    EXPECT_EQ(Report(3600, 13500), (Sample{3600, 0}));  // a stalled second shows as 0
    // A count below the window's start is a new transfer that nobody reset for: a new window,
    // no negative speed.
    EXPECT_EQ(Report(200, 14000), (Sample{200, 0}));
    EXPECT_EQ(Report(1200, 15000), (Sample{1200, 1000}));
}

// Past 2 GiB the speed keeps being defined (a 32-bit count froze it at 0).
TEST_F(TransferCallbacksTest, SpeedPastTwoGibibytesAndCountersStayDefined) {
    const int64_t twoGiB = 2147483648;
    EXPECT_EQ(Report(twoGiB - 1000, 0), (Sample{twoGiB - 1000, 0}));
    EXPECT_EQ(Report(twoGiB + 500000, 1000), (Sample{twoGiB + 500000, 501000}));
    EXPECT_EQ(Report(5000000000, 2000), (Sample{5000000000, 2852016352u}));
    // A growth beyond the 32-bit speed counter saturates instead of wrapping.
    EXPECT_EQ(Report(10000000000, 3000), (Sample{10000000000, UINT32_MAX}));
    // Counts far outside the integers are clamped rather than undefined.
    EXPECT_EQ(DownloadProgressCallback(nullptr, 0.2, 1e30, 0.0, 0.0), 0);
    EXPECT_EQ(g_prevDlNow, INT64_MAX);
}

TEST_F(TransferCallbacksTest, FileWritesAreRefusedAndLoggedUntilEnabled) {
    FILE* file = tmpfile();
    ASSERT_NE(file, nullptr);
    char data[] = "abc";
    EXPECT_EQ(FileWriteCallback(data, 1, 3, file), 0u);
    EXPECT_EQ(ProbeWriteCallback(data, 1, 3, file), 0u);
    EXPECT_EQ(ftell(file), 0L);
    fclose(file);

    EXPECT_EQ(MaskTimes(ReadHostFile(LogPath())),
              LogBanner() + "[TIME] downpatch callback quite!!!\r\n" +
                  "[TIME] RemoteFileExistDCallBack callback quite!!!\r\n");
}

TEST_F(TransferCallbacksTest, LogFileIsOnlyReplacedByARunThatLogs) {
    WriteHostFile(LogPath(), "earlier run\n");
    GetHttpClient()->writeEnabled = true;
    FILE* file = tmpfile();
    ASSERT_NE(file, nullptr);
    char data[] = "abc";
    EXPECT_EQ(ProbeWriteCallback(data, 1, 3, file), 3u);
    fclose(file);
    EXPECT_EQ(ReadHostFile(LogPath()), "earlier run\n");

    EXPECT_EQ(LogWrite(g_log, L"%ls %d", L"entry", 7), 0);
    EXPECT_EQ(MaskTimes(ReadHostFile(LogPath())), LogBanner() + "[TIME] entry 7\r\n");
}

TEST_F(TransferCallbacksTest, LogWriteIsSilentWhenTheFileCannotBeOpened) {
    // A folder where the log file should be: the open fails, as for a locked file.
    std::filesystem::create_directories(LogPath());
    EXPECT_EQ(LogWrite(g_log, L"dropped"), -1);
    EXPECT_EQ(LogWrite(g_log, L"dropped too"), -1);
}

TEST_F(TransferCallbacksTest, LongAndNonAsciiEntriesAreWrittenWhole) {
    std::wstring longText(5000, L'x');
    EXPECT_EQ(LogWrite(g_log, L"%ls|", longText.c_str()), 0);
    EXPECT_EQ(LogWrite(g_log, L"补丁 %d", 3), 0);
    EXPECT_EQ(MaskTimes(ReadHostFile(LogPath())),
              LogBanner() + "[TIME] " + std::string(5000, 'x') + "|\r\n[TIME] 补丁 3\r\n");
}

}  // namespace
}  // namespace qxtest
