// What the dialog's observer measures on the repair's thread: the speed behind the speed label,
// in bytes per second over half-second windows, and the percent of a transfer.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>

#include "ui/progress_state.h"
#include "support/process_globals.h"
#include "ui/repair_reports.h"

namespace {

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

class SpeedTest : public ::testing::Test {
  protected:
    void SetUp() override { qxtest::ResetProcessGlobals(); }
};

// libcurl reports many times a second, mostly with a few bytes or none: the label shows the bytes
// per second over half-second windows, not the growth between two reports.
TEST_F(SpeedTest, SpeedIsBytesPerSecondOverHalfASecondOrMore) {
    g_speedBytes = 77;                                   // the figure of the transfer before
    EXPECT_EQ(Report(100, 10000), (Sample{100, 77}));    // first report: a new window
    EXPECT_EQ(Report(100, 10100), (Sample{100, 77}));    // nothing new, the window still open
    EXPECT_EQ(Report(400, 10300), (Sample{400, 77}));    // the window still open
    EXPECT_EQ(Report(600, 10500), (Sample{600, 1000}));  // 500 bytes in half a second
    EXPECT_EQ(Report(600, 10600), (Sample{600, 1000}));  // a report with nothing new keeps it
    EXPECT_EQ(Report(3600, 12500), (Sample{3600, 1500}));
    EXPECT_EQ(Report(3600, 13500), (Sample{3600, 0}));  // a stalled second shows as 0
    // A count below the window's start is a transfer started again from zero: a new window, no
    // negative speed.
    EXPECT_EQ(Report(200, 14000), (Sample{200, 0}));
    EXPECT_EQ(Report(1200, 15000), (Sample{1200, 1000}));
}

// Past 2 GiB the speed keeps being defined (a 32-bit count froze it at 0).
TEST_F(SpeedTest, SpeedPastTwoGibibytesStaysDefined) {
    const int64_t twoGiB = 2147483648;
    EXPECT_EQ(Report(twoGiB - 1000, 0), (Sample{twoGiB - 1000, 0}));
    EXPECT_EQ(Report(twoGiB + 500000, 1000), (Sample{twoGiB + 500000, 501000}));
    EXPECT_EQ(Report(5000000000, 2000), (Sample{5000000000, 2852016352u}));
    // A growth beyond the 32-bit speed counter saturates instead of wrapping.
    EXPECT_EQ(Report(10000000000, 3000), (Sample{10000000000, UINT32_MAX}));
}

TEST(PercentTest, IsTruncatedAndStaysWithinZeroTo100) {
    EXPECT_EQ(PercentOf(0, 1000), 0);
    EXPECT_EQ(PercentOf(999, 1000), 99);
    EXPECT_EQ(PercentOf(1000, 1000), 100);
    EXPECT_EQ(PercentOf(5000, 1000), 100);  // an over-long body
    EXPECT_EQ(PercentOf(-5, 1000), 0);
    EXPECT_EQ(PercentOf(INT64_MAX - 1, INT64_MAX), 100);
}

}  // namespace
