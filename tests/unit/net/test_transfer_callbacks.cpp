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

Sample Report(double total, double now) {
    EXPECT_EQ(DownloadProgressCallback(nullptr, total, now, 0.0, 0.0), 0);
    return Sample{g_prevDlNow, g_speedBytes};
}

std::ostream& operator<<(std::ostream& os, const Sample& s) {
    return os << "{prev " << s.prevDlNow << ", speed " << s.speedBytes << "}";
}

TEST_F(TransferCallbacksTest, SpeedIsTheGrowthBetweenReports) {
    g_speedBytes = 77;
    EXPECT_EQ(Report(0.05, 500.0), (Sample{0, 77}));  // size unknown: nothing happens
    EXPECT_EQ(Report(-0.05, 500.0), (Sample{0, 77}));
    EXPECT_EQ(Report(1000.0, 100.0), (Sample{100, 0}));  // first report of the transfer
    EXPECT_EQ(Report(1000.0, 100.0), (Sample{100, 0}));  // nothing new arrived
    EXPECT_EQ(Report(1000.0, 400.0), (Sample{400, 300}));
    EXPECT_EQ(Report(1000.0, 1000.0), (Sample{1000, 600}));
}

// Past 2 GiB the speed keeps being the growth between reports (a 32-bit count froze it at 0).
TEST_F(TransferCallbacksTest, SpeedPastTwoGibibytesAndCountersStayDefined) {
    const double twoGiB = 2147483648.0;
    EXPECT_EQ(Report(6e9, twoGiB - 1000.0), (Sample{2147482648, 0}));
    EXPECT_EQ(Report(6e9, twoGiB + 500000.0), (Sample{2147983648, 501000}));
    EXPECT_EQ(Report(6e9, 5e9), (Sample{5000000000, 2852016352u}));
    // A growth beyond the 32-bit speed counter saturates instead of wrapping.
    EXPECT_EQ(Report(1e19, 1e10), (Sample{10000000000, UINT32_MAX}));
    // A smaller count than before (a new transfer that nobody reset for) is no negative speed.
    g_prevDlNow = 500;
    EXPECT_EQ(Report(1000.0, 200.0), (Sample{200, 0}));
    // Counts and percentages far outside the integers are clamped rather than undefined.
    EXPECT_EQ(Report(0.2, 1e30), (Sample{INT64_MAX, UINT32_MAX}));
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
