// The HTTP client against the real patch server over loopback: bodies to memory and to files,
// the probe, and the outcome each operation returns for its caller to report.
#include <string>

#include "net/http_client.h"
#include "net_fixture.h"

namespace qxtest {
namespace {

class HttpClientTest : public NetTest {
  protected:
    TestServer server_;
};

TEST_F(HttpClientTest, FetchToMemoryReturnsTheBodyOfEachTransferAlone) {
    server_.PutFile("first", "1.0.0 a.zip 1 x\r\n版本");
    server_.PutFile("second", "2");
    server_.PutFile("empty", "");
    EXPECT_EQ(Fetch(server_.Url("/first")), "1.0.0 a.zip 1 x\r\n版本");
    EXPECT_EQ(Fetch(server_.Url("/second")), "2");
    TransferOutcome outcome;
    EXPECT_EQ(Fetch(server_.Url("/empty"), &outcome), "");
    EXPECT_TRUE(outcome.Succeeded());
    // Whatever a server sends, the body stays within its limit.
    EXPECT_EQ(Fetch(server_.Url("/first"), &outcome, 4), "");
    EXPECT_EQ(outcome.code, CURLE_FILESIZE_EXCEEDED);
}

// An error page is no body: the status is the reason, and it never lands in a patch file.
TEST_F(HttpClientTest, ErrorStatusesFailWithTheStatusAsTheReason) {
    server_.PutFile("list", "1.0.0 a.zip 1 x\n");
    server_.PutFile("a.zip", "archive");
    server_.SetRule("/list", R"({"status": 404})");
    server_.SetRule("/a.zip", R"({"status": 500})");
    WriteHostFile(TmpPatchFile("a.zip"), "kept-");

    TransferOutcome outcome;
    EXPECT_EQ(Fetch(server_.Url("/list"), &outcome), "");
    EXPECT_EQ(outcome.status, 404);
    EXPECT_EQ(Reason(outcome), "HTTP 404");
    EXPECT_EQ(Reason(Download(server_.Url("/a.zip"), "a.zip")), "HTTP 500");
    EXPECT_EQ(ReadHostFile(TmpPatchFile("a.zip")), "kept-");

    // Nothing listens on port 1 of the loopback: libcurl's own words.
    Fetch("http://127.0.0.1:1/qx_patchlist_win32", &outcome);
    EXPECT_EQ(outcome.error, TransferError::Transfer);
    EXPECT_EQ(Reason(outcome), curl_easy_strerror(CURLE_COULDNT_CONNECT));
}

TEST_F(HttpClientTest, DownloadAppendsTheBodyAndReportsProgress) {
    std::string body(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 7 + i / 251);
    server_.PutFile("patch/1.0.1.zip", body);
    WriteHostFile(TmpPatchFile("1.0.1.zip"), "old");

    EXPECT_TRUE(Download(server_.Url("/patch/1.0.1.zip"), "1.0.1.zip").Succeeded());
    EXPECT_EQ(ReadHostFile(TmpPatchFile("1.0.1.zip")), "old" + body);
    EXPECT_TRUE(GetHttpClient()->writeEnabled);
    // The last progress report saw the whole body.
    EXPECT_EQ(listener_.lastReceived, static_cast<int64_t>(body.size()));
    EXPECT_EQ(listener_.lastTotal, static_cast<int64_t>(body.size()));
}

// The probe asks for the address itself: a redirect (a host sending missing files to a page of
// its own) is no cumulative patch. It leaves the handle ready for the next body.
TEST_F(HttpClientTest, ProbeIsTrueOnlyFor200AtItsOwnAddressAndKeepsTheHeaderLines) {
    GetHttpClient()->writeEnabled = true;  // as after the downloads of a repair
    server_.PutFile("patch1.0.1.qx.all.win32", "cumulative");
    server_.PutFile("landing", "a page of the host's own");
    EXPECT_TRUE(Probe(server_.Url("/patch1.0.1.qx.all.win32"), "patch1.0.1.qx.all.win32"));
    const std::string headers = ReadHostFile(TmpPatchFile("patch1.0.1.qx.all.win32_tmp"));
    EXPECT_EQ(headers.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << headers;
    EXPECT_NE(headers.find("Content-Length: 10\r\n"), std::string::npos) << headers;

    server_.SetRule("/moved", R"({"redirect": "/landing"})");
    server_.SetRule("/empty", R"({"head_status": 204})");
    EXPECT_FALSE(Probe(server_.Url("/missing"), "missing"));
    EXPECT_FALSE(Probe(server_.Url("/moved"), "moved"));
    EXPECT_FALSE(Probe(server_.Url("/empty"), "empty"));
    EXPECT_EQ(server_.RequestCount("/landing"), 0);

    server_.PutFile("a.zip", "archive");
    EXPECT_TRUE(Download(server_.Url("/a.zip"), "a.zip").Succeeded());
    EXPECT_EQ(ReadHostFile(TmpPatchFile("a.zip")), "archive");
}

TEST_F(HttpClientTest, WritesAreRefusedUntilTheFirstDownload) {
    server_.PutFile("patch1.0.1.qx.all.win32", "cumulative");
    TransferOutcome outcome;
    EXPECT_FALSE(GetHttpClient()->ProbeRemoteFile(server_.Url("/patch1.0.1.qx.all.win32"),
                                                  TmpPatchPath("p_tmp"), &outcome));
    EXPECT_TRUE(outcome.writeRefused);
    EXPECT_EQ(ReadHostFile(TmpPatchFile("p_tmp")), "");
}

TEST_F(HttpClientTest, AFileThatCannotBeCreatedIsNamedAndNothingIsRequested) {
    const std::wstring missing = scratch_.win("nowhere/a.zip");
    const TransferOutcome download =
        GetHttpClient()->DownloadToFile(server_.Url("/a.zip"), missing, nullptr);
    TransferOutcome probe;
    EXPECT_FALSE(GetHttpClient()->ProbeRemoteFile(server_.Url("/a.zip"), missing, &probe));
    for (const TransferOutcome& outcome : {download, probe}) {
        EXPECT_EQ(outcome.error, TransferError::LocalFile);
        EXPECT_EQ(outcome.path, missing);
    }
    EXPECT_EQ(server_.RequestCount("/a.zip"), 0);
}

}  // namespace
}  // namespace qxtest
