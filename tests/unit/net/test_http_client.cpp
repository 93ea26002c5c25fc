// The HTTP client against the real patch server over loopback: bodies to memory and to files,
// the probe, and what the user is told when a transfer fails.
#include <string>

#include "net/http_client.h"
#include "net_fixture.h"
#include "state/progress_state.h"

namespace qxtest {
namespace {

const std::string kFetchError = "获取PatchList网络异常，错误信息：";
const std::string kDownloadError = "下载Patch网络异常，错误信息：";

Box NoticeBox(const std::string& text) {
    return Box{"提示", text};
}

class HttpClientTest : public NetTest {
  protected:
    TestServer server_;
};

TEST_F(HttpClientTest, FetchToMemoryReturnsTheBodyOfEachTransferAlone) {
    server_.PutFile("first", "1.0.0 a.zip 1 x\r\n版本");
    server_.PutFile("second", "2");
    std::wstring out;
    ASSERT_TRUE(GetHttpClient()->FetchToMemory(server_.Url("/first"), out));
    EXPECT_EQ(out, L"1.0.0 a.zip 1 x\r\n版本");
    ASSERT_TRUE(GetHttpClient()->FetchToMemory(server_.Url("/second"), out));
    EXPECT_EQ(out, L"2");
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(HttpClientTest, FetchToMemoryWithAnEmptyBodyLeavesTheOutputAsItWas) {
    server_.PutFile("empty", "");
    std::wstring out = L"before";
    EXPECT_TRUE(GetHttpClient()->FetchToMemory(server_.Url("/empty"), out));
    EXPECT_EQ(out, L"before");
}

TEST_F(HttpClientTest, ErrorStatusesFailWithTheStatusInTheBox) {
    server_.PutFile("list", "1.0.0 a.zip 1 x\n");
    server_.PutFile("a.zip", "archive");
    server_.SetRule("/list", R"({"status": 404})");
    server_.SetRule("/a.zip", R"({"status": 500})");
    WriteHostFile(TmpPatchFile("a.zip"), "kept-");

    std::wstring out = L"before";
    EXPECT_FALSE(GetHttpClient()->FetchToMemory(server_.Url("/list"), out));
    EXPECT_EQ(out, L"before");
    EXPECT_FALSE(GetHttpClient()->DownloadToFile(server_.Url("/a.zip"), L"a.zip"));

    EXPECT_EQ(Boxes(), (std::vector<Box>{NoticeBox(kFetchError + "HTTP 404"),
                                         NoticeBox(kDownloadError + "HTTP 500")}));
    // The error page never lands in the patch file.
    EXPECT_EQ(ReadHostFile(TmpPatchFile("a.zip")), "kept-");
}

TEST_F(HttpClientTest, AConnectFailureAfterAnErrorStatusReportsLibcurlsText) {
    server_.SetRule("/gone", R"({"status": 404})");
    std::wstring out;
    EXPECT_FALSE(GetHttpClient()->FetchToMemory(server_.Url("/gone"), out));
    // Nothing listens on port 1 of the loopback.
    EXPECT_FALSE(GetHttpClient()->FetchToMemory("http://127.0.0.1:1/qx_patchlist_win32", out));
    EXPECT_EQ(Boxes(), (std::vector<Box>{
                           NoticeBox(kFetchError + "HTTP 404"),
                           NoticeBox(kFetchError + curl_easy_strerror(CURLE_COULDNT_CONNECT))}));
}

TEST_F(HttpClientTest, DownloadAppendsTheBodyAndReportsProgress) {
    std::string body(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 7 + i / 251);
    server_.PutFile("patch/1.0.1.zip", body);
    WriteHostFile(TmpPatchFile("1.0.1.zip"), "old");

    ASSERT_TRUE(GetHttpClient()->DownloadToFile(server_.Url("/patch/1.0.1.zip"), L"1.0.1.zip"));
    EXPECT_EQ(ReadHostFile(TmpPatchFile("1.0.1.zip")), "old" + body);
    EXPECT_TRUE(GetHttpClient()->writeEnabled);
    // The last progress report saw the whole body.
    EXPECT_EQ(g_prevDlNow, static_cast<int64_t>(body.size()));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(HttpClientTest, ProbeIsTrueOnlyFor200AndKeepsTheHeaderLines) {
    GetHttpClient()->writeEnabled = true;  // as after the downloads of a repair
    server_.PutFile("patch1.0.1.qx.all.win32", "cumulative");
    EXPECT_TRUE(GetHttpClient()->ProbeRemoteFile(server_.Url("/patch1.0.1.qx.all.win32"),
                                                 L"patch1.0.1.qx.all.win32"));
    EXPECT_TRUE(GetHttpClient()->cumulativePatchPresent);
    std::string headers = ReadHostFile(TmpPatchFile("patch1.0.1.qx.all.win32_tmp"));
    EXPECT_EQ(headers.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << headers;
    EXPECT_NE(headers.find("Content-Length: 10\r\n"), std::string::npos) << headers;

    EXPECT_FALSE(GetHttpClient()->ProbeRemoteFile(server_.Url("/missing"), L"missing"));
    EXPECT_FALSE(GetHttpClient()->cumulativePatchPresent);
    server_.SetRule("/moved", R"({"head_status": 204})");
    EXPECT_FALSE(GetHttpClient()->ProbeRemoteFile(server_.Url("/moved"), L"moved"));
    EXPECT_TRUE(Boxes().empty());
}

// The handle keeps its options: a download after a probe must switch back to a GET of the body.
TEST_F(HttpClientTest, DownloadAfterAProbeStoresOnlyTheBody) {
    GetHttpClient()->writeEnabled = true;
    server_.PutFile("a.zip", "archive");
    EXPECT_TRUE(GetHttpClient()->ProbeRemoteFile(server_.Url("/a.zip"), L"a.zip"));
    EXPECT_TRUE(GetHttpClient()->DownloadToFile(server_.Url("/a.zip"), L"a.zip"));
    EXPECT_EQ(ReadHostFile(TmpPatchFile("a.zip")), "archive");
}

TEST_F(HttpClientTest, ProbeBeforeAnyDownloadIsRefusedAndLogged) {
    server_.PutFile("patch1.0.1.qx.all.win32", "cumulative");
    GetHttpClient()->cumulativePatchPresent = true;
    EXPECT_FALSE(GetHttpClient()->ProbeRemoteFile(server_.Url("/patch1.0.1.qx.all.win32"),
                                                  L"patch1.0.1.qx.all.win32"));
    EXPECT_FALSE(GetHttpClient()->cumulativePatchPresent);
    EXPECT_TRUE(Boxes().empty());

    EXPECT_EQ(MaskTimes(ReadHostFile(LogPath())),
              LogBanner() + "[TIME] RemoteFileExistDCallBack callback quite!!!\r\n");
}

TEST_F(HttpClientTest, DownloadIntoAMissingFolderTellsThePath) {
    g_exeDir = scratch_.win("nowhere") + L"\\";
    EXPECT_FALSE(GetHttpClient()->DownloadToFile(server_.Url("/a.zip"), L"a.zip"));
    EXPECT_FALSE(GetHttpClient()->ProbeRemoteFile(server_.Url("/a.zip"), L"a.zip"));
    const std::string folder = NarrowWinPath(scratch_.host("nowhere/TmpPatch/"));
    EXPECT_EQ(Boxes(),
              (std::vector<Box>{NoticeBox("can not create file " + folder + "a.zip"),
                                NoticeBox("can not create tmp file " + folder + "a.zip_tmp")}));
    EXPECT_EQ(server_.RequestCount("/a.zip"), 0);
}

}  // namespace
}  // namespace qxtest
