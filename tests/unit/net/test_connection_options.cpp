// What every transfer shares: redirects followed up to five hops and only to http and https, and
// a connection that must be made within 15 seconds.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "net/http_client.h"
#include "net_fixture.h"

namespace qxtest {
namespace {

class ConnectionOptionsTest : public NetTest {
  protected:
    // /hop1 -> /hop2 -> ... -> /hopN -> target, with a different redirect status at each hop.
    std::string Chain(int hops, const std::string& target) {
        const char* statuses[] = {"301", "302", "303", "307", "308"};
        const std::string prefix = "/c" + std::to_string(++chains_) + "/hop";
        for (int i = 1; i <= hops; ++i) {
            const std::string next = i == hops ? target : prefix + std::to_string(i + 1);
            server_.SetRule(
                prefix + std::to_string(i),
                R"({"redirect": ")" + next + R"(", "redirect_status": )" + statuses[i % 5] + "}");
        }
        return server_.Url(prefix + "1");
    }

    TestServer server_;
    int chains_ = 0;
};

TEST_F(ConnectionOptionsTest, RedirectsAreFollowedUpToFiveHops) {
    server_.PutFile("list", "1.0.0 a.zip 1 x");
    EXPECT_EQ(Fetch(Chain(1, "/list")), "1.0.0 a.zip 1 x");
    EXPECT_EQ(Fetch(Chain(5, server_.Url("/list"))), "1.0.0 a.zip 1 x");

    TransferOutcome outcome;
    Fetch(Chain(6, "/list"), &outcome);
    EXPECT_EQ(server_.RequestCount("/list"), 2);
    EXPECT_EQ(Reason(outcome), curl_easy_strerror(CURLE_TOO_MANY_REDIRECTS));
}

TEST_F(ConnectionOptionsTest, ArchivesFollowRedirectsToTheFinalAnswer) {
    server_.PutFile("cdn/a.zip", "archive");
    EXPECT_TRUE(Download(Chain(2, "/cdn/a.zip"), "a.zip").Succeeded());
    EXPECT_EQ(ReadHostFile(TmpPatchFile("a.zip")), "archive");
}

// Neither a redirect nor an address in the list may reach a local file or another protocol;
// such a failure is not retried.
TEST_F(ConnectionOptionsTest, OtherSchemesAreRefused) {
    WriteHostFile(scratch_.host("secret"), "local file");
    const std::string file = "file://" + scratch_.host("secret");
    for (const std::string& url : {Chain(1, file), Chain(1, "ftp://127.0.0.1:1/a.zip"), file}) {
        EXPECT_EQ(Reason(Download(url, "a.zip")), curl_easy_strerror(CURLE_UNSUPPORTED_PROTOCOL));
    }
    EXPECT_EQ(ReadHostFile(TmpPatchFile("a.zip")), "");
    EXPECT_EQ(server_.RequestCount("/c1/hop1"), 1);
}

// A listening socket whose backlog is full: the kernel answers no further connection, as a dead
// host does. The time-out is shortened with its test-only setting.
TEST_F(ConnectionOptionsTest, AHostThatNeverAnswersFailsAfterTheConnectionTimeOut) {
    ScopedEnv timeout("QXWEB_CONNECT_TIMEOUT_MS", "300");
    ResetProcessGlobals();
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers.push_back(filler);
    }
    const std::string url =
        "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/qx_patchlist_win32";

    TransferOutcome outcome;
    Fetch(url, &outcome);
    EXPECT_EQ(Reason(outcome), curl_easy_strerror(CURLE_OPERATION_TIMEDOUT));
    for (int filler : fillers) {
        close(filler);
    }
    close(listener);
}

}  // namespace
}  // namespace qxtest
