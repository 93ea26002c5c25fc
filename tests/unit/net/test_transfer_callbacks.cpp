// The transfer callbacks called directly: the progress a listener hears and the refusal of file
// writes before writing is enabled; and the log, which only a run that writes to it replaces.
#include <cstdio>

#include "state/log.h"
#include "net/http_callbacks.h"
#include "net/http_client.h"
#include "net_fixture.h"

namespace qxtest {
namespace {

using TransferCallbacksTest = NetTest;

// A transfer's state over a temporary file, as the client hands it to its callbacks.
struct FileTransfer {
    FileTransfer() {
        state.client = GetHttpClient();
        state.file = tmpfile();
        state.listener = &listener;
    }
    ~FileTransfer() { fclose(state.file); }
    FileTransfer(const FileTransfer&) = delete;
    FileTransfer& operator=(const FileTransfer&) = delete;

    RecordingListener listener;
    TransferState state;
};

TEST_F(TransferCallbacksTest, ProgressReachesTheListenerOnceTheSizeIsKnown) {
    FileTransfer transfer;
    EXPECT_EQ(DownloadProgressCallback(&transfer.state, 0.05, 500.0, 0.0, 0.0), 0);
    EXPECT_EQ(DownloadProgressCallback(&transfer.state, -0.05, 500.0, 0.0, 0.0), 0);
    EXPECT_EQ(transfer.listener.lastTotal, 0);
    // A continued body counts the bytes already held; counts far outside the integers are
    // clamped rather than undefined.
    transfer.state.progressOffset = 1000;
    EXPECT_EQ(TransferInfoCallback(&transfer.state, 50, 20, 0, 0), 0);
    EXPECT_EQ(transfer.listener.lastReceived, 1020);
    EXPECT_EQ(transfer.listener.lastTotal, 1050);
    EXPECT_EQ(DownloadProgressCallback(&transfer.state, 0.2, 1e30, 0.0, 0.0), 0);
    EXPECT_EQ(transfer.listener.lastReceived, INT64_MAX);
}

TEST_F(TransferCallbacksTest, FileWritesAreRefusedUntilEnabled) {
    FileTransfer transfer;
    char data[] = "abc";
    EXPECT_EQ(FileWriteCallback(data, 1, 3, &transfer.state), 0u);
    EXPECT_EQ(ProbeWriteCallback(data, 1, 3, &transfer.state), 0u);
    EXPECT_EQ(ftell(transfer.state.file), 0L);
    EXPECT_TRUE(transfer.state.writeRefused);

    GetHttpClient()->writeEnabled = true;
    EXPECT_EQ(ProbeWriteCallback(data, 1, 3, &transfer.state), 3u);
    EXPECT_EQ(ftell(transfer.state.file), 3L);
}

TEST_F(TransferCallbacksTest, LogFileIsOnlyReplacedByARunThatLogs) {
    WriteHostFile(LogPath(), "earlier run\n");
    EXPECT_TRUE(Fetch("http://127.0.0.1:1/").empty());  // a transfer writes nothing to the log
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
