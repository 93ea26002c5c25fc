// Patch downloads on a poor network, against the real patch server misbehaving on purpose: a body
// cut short, reset, stalled or refused is continued or fetched again until the file is exact, or
// the last error is reported once the attempts are spent. Pauses are 10 ms here (the fixture).
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "net/http_client.h"
#include "net/resumable_download.h"
#include "net_fixture.h"

namespace qxtest {
namespace {

// 1 MiB + 3 bytes of a pattern that shows any byte out of place.
std::string Archive(char salt = 0) {
    std::string body((1 << 20) + 3, '\0');
    for (size_t i = 0; i < body.size(); ++i) {
        body[i] = static_cast<char>(i * 13 + i / 509 + salt);
    }
    return body;
}

class ResumableDownloadTest : public NetTest {
  protected:
    // A fresh URL path per case: a rule's sequence counts the requests of its path.
    void Serve(const std::string& body, const std::string& rule) {
        ResetProcessGlobals();
        listener_ = RecordingListener();
        g_exeDir = scratch_.win("client") + L"\\";
        path_ = "/p/" + std::to_string(++cases_) + "/a.zip";
        server_.PutFile(path_.substr(1), body);
        server_.SetRule(path_, rule);
        std::filesystem::remove(TmpPatchFile("a.zip"));
    }
    // The last attempt's reason for failing; "" when the download succeeded.
    std::string Download() { return Reason(NetTest::Download(server_.Url(path_), "a.zip")); }
    std::string Stored() const { return ReadHostFile(TmpPatchFile("a.zip")); }
    int Requests() const { return server_.RequestCount(path_); }
    // Body bytes the server sent for the archive, over all requests.
    int BytesSent() const { return server_.RequestCount("bytes:" + path_); }

    TestServer server_;
    std::string path_;
    int cases_ = 0;
};

// A continued body asks only for what is missing: after a close the server sends each byte once.
// (A reset also drops what was still on its way, which the next attempt asks for again.)
TEST_F(ResumableDownloadTest, ABodyCutShortIsContinuedWhereItStopped) {
    const std::string body = Archive();
    const int size = static_cast<int>(body.size());
    const std::vector<std::pair<std::string, int>> faultsAndMostBytes = {
        {R"({"cut": 0.3})", size},
        {R"({"cut": 0.9})", size},
        {R"({"empty_reply": true})", size},
        {R"({"truncate": 0})", size},
        {R"({"reset": 0.5})", size + size / 2}};
    for (const auto& [fault, mostBytes] : faultsAndMostBytes) {
        SCOPED_TRACE(fault);
        Serve(body, R"({"sequence": [)" + fault + "]}");
        EXPECT_EQ(Download(), "");
        EXPECT_TRUE(Stored() == body) << Stored().size();
        EXPECT_EQ(Requests(), 2);
        EXPECT_GE(BytesSent(), size);
        EXPECT_LE(BytesSent(), mostBytes);
        EXPECT_EQ(listener_.lastReceived, size);  // progress saw the whole file
    }
}

// The low-speed limit, shortened to a second, ends the stalled attempt.
TEST_F(ResumableDownloadTest, AStallMidBodyIsContinuedAfterTheLowSpeedLimit) {
    ScopedEnv lowSpeedWindow("QXWEB_LOW_SPEED_TIME", "1");
    const std::string body = Archive();
    Serve(body, R"({"sequence": [{"stall": 60, "stall_at": 0.4}]})");
    EXPECT_EQ(Download(), "");
    EXPECT_TRUE(Stored() == body);
    EXPECT_EQ(Requests(), 2);
}

// The server cannot continue the body: it sends all of it (ranges ignored, the file replaced
// so that If-Range no longer matches, or a 416), and the file starts again from zero.
TEST_F(ResumableDownloadTest, ABodyThatCannotBeContinuedStartsAgainFromZero) {
    const std::string oldBody = Archive(1);
    const std::string newBody = Archive(2).substr(100);
    struct Case {
        const char* name;
        const char* rule;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"ranges ignored", R"({"sequence": [{"cut": 0.5, "ignore_ranges": true},
                                             {"ignore_ranges": true}]})",
         oldBody},
        {"file replaced", R"({"sequence": [{"cut": 0.5, "replace_with": "new.bin"}]})", newBody},
        {"range refused", R"({"sequence": [{"cut": 0.5}, {"status": 416}]})", oldBody},
        // A 206 for another range than the one asked for is never spliced in.
        {"another range sent", R"({"sequence": [{"cut": 0.5}, {"range_from": 0}]})", oldBody},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server_.PutFile("new.bin", newBody);
        Serve(oldBody, c.rule);

        EXPECT_EQ(Download(), "");
        EXPECT_TRUE(Stored() == c.expected) << Stored().size();
    }
}

TEST_F(ResumableDownloadTest, TransientStatusesAreRetriedAndTheAttemptsAreSixAtMost) {
    const std::string body = Archive();
    Serve(body, R"({"status": 503, "times": 2})");
    EXPECT_EQ(Download(), "");
    EXPECT_TRUE(Stored() == body);
    EXPECT_EQ(Requests(), 3);

    // Spent: one box, the last error, and the file holds no error page.
    Serve(body, R"({"status": 429})");
    EXPECT_EQ(Download(), "HTTP 429");
    EXPECT_EQ(Requests(), 6);
    EXPECT_EQ(listener_.retries.size(), 6u);
    EXPECT_EQ(Stored(), "");
}

// A server that keeps dropping the connection but delivers 64 KiB or more each time is no failure:
// only attempts that bring less spend the budget.
TEST_F(ResumableDownloadTest, AConnectionDroppedAgainAndAgainStillFinishes) {
    const std::string body = Archive();
    Serve(body, R"({"cut_every": 100000})");
    EXPECT_EQ(Download(), "");
    EXPECT_TRUE(Stored() == body);
    EXPECT_EQ(Requests(), 11);
    EXPECT_EQ(BytesSent(), static_cast<int>(body.size()));

    // Cut at the same place every time, with ranges ignored: never further, so it ends. So does a
    // server that sends a trickle per connection: an attempt that brings less than 64 KiB fails.
    for (const char* rule : {R"({"cut": 0.5, "ignore_ranges": true})", R"({"cut_every": 30000})"}) {
        Serve(body, rule);
        EXPECT_EQ(Download(), curl_easy_strerror(CURLE_PARTIAL_FILE)) << rule;
        EXPECT_EQ(Requests(), 6) << rule;
    }
}

TEST_F(ResumableDownloadTest, ClientErrorsFailAtOnce) {
    Serve("", R"({"status": 403})");
    EXPECT_EQ(Download(), "HTTP 403");
    EXPECT_EQ(Requests(), 1);
}

TEST(RetryPolicyTest, PausesDoubleFromOneSecondUpToEight) {
    std::vector<unsigned> pauses;
    {
        const ScopedEnv unset("QXWEB_RETRY_PAUSE_MS", nullptr);
        for (int retry = 1; retry <= 6; ++retry) {
            pauses.push_back(RetryPauseMilliseconds(retry));
        }
    }
    EXPECT_EQ(pauses, (std::vector<unsigned>{1000, 2000, 4000, 8000, 8000, 8000}));
    const ScopedEnv shortened("QXWEB_RETRY_PAUSE_MS", "5");
    EXPECT_EQ(RetryPauseMilliseconds(4), 5u);
}

TEST(RetryPolicyTest, OnlyTransientFailuresAreRetried) {
    EXPECT_EQ(JudgeAttempt(CURLE_OK, 200, true), AttemptVerdict::Done);
    EXPECT_EQ(JudgeAttempt(CURLE_OK, 206, true), AttemptVerdict::Done);
    for (long status : {408L, 429L, 500L, 502L, 503L, 504L}) {
        EXPECT_EQ(JudgeAttempt(CURLE_WRITE_ERROR, status, true), AttemptVerdict::Retry) << status;
    }
    for (long status : {400L, 401L, 404L, 410L, 501L}) {
        EXPECT_EQ(JudgeAttempt(CURLE_WRITE_ERROR, status, true), AttemptVerdict::Fail) << status;
    }
    EXPECT_EQ(JudgeAttempt(CURLE_OK, 416, true), AttemptVerdict::RetryFromZero);
    // A stall is retried; a host that never took the connection is not.
    EXPECT_EQ(JudgeAttempt(CURLE_OPERATION_TIMEDOUT, 200, true), AttemptVerdict::Retry);
    EXPECT_EQ(JudgeAttempt(CURLE_OPERATION_TIMEDOUT, 0, false), AttemptVerdict::Fail);
    EXPECT_EQ(JudgeAttempt(CURLE_COULDNT_CONNECT, 0, false), AttemptVerdict::Retry);
    // A redirect: its target unreachable is retried; too many hops, or a scheme refused, is not.
    EXPECT_EQ(JudgeAttempt(CURLE_COULDNT_CONNECT, 302, true), AttemptVerdict::Retry);
    EXPECT_EQ(JudgeAttempt(CURLE_TOO_MANY_REDIRECTS, 302, true), AttemptVerdict::Fail);
    EXPECT_EQ(JudgeAttempt(CURLE_UNSUPPORTED_PROTOCOL, 302, true), AttemptVerdict::Fail);
    EXPECT_EQ(JudgeAttempt(CURLE_WRITE_ERROR, 200, true), AttemptVerdict::Fail);  // disk full
}

TEST(RetryPolicyTest, OnlyAStrongETagOrADateMayContinueABody) {
    EXPECT_EQ(ResumeValidator("\"abc\"", "Tue, 08 Dec 2026 17:37:10 GMT"), "\"abc\"");
    EXPECT_EQ(ResumeValidator("W/\"abc\"", "Tue, 08 Dec 2026 17:37:10 GMT"),
              "Tue, 08 Dec 2026 17:37:10 GMT");
    EXPECT_EQ(ResumeValidator("", ""), "");
}

}  // namespace
}  // namespace qxtest
