// Patch-list retrieval against a server of the test's own (QXWEB_PATCHLIST_URL): the retry
// questions, the number of transfers, and the list that a successful transfer leaves behind.
#include <string>
#include <vector>

#include "net_fixture.h"
#include "patchlist/fetch_patch_list.h"
#include "patchlist/patch_list.h"
#include "ui/transfer_boxes.h"

namespace qxtest {
namespace {

const std::string kList = "/qx_patchlist_win32";
const Box kServerError{"提示", "获取PatchList网络异常，错误信息：HTTP 500"};
const Box kRetryQuestion{"下载异常", "获取更新列表失败，是否需要重试！"};

class FetchPatchListTest : public NetTest {
  protected:
    TestServer server_;
    ScopedEnv listUrl_{"QXWEB_PATCHLIST_URL", server_.Url(kList)};

    std::vector<std::string> Buttons() const {
        std::vector<std::string> buttons;
        for (const TranscriptEvent& e : ReadTranscript(TranscriptPath())) {
            if (e.Get("event") == "box")
                buttons.push_back(e.Get("buttons"));
        }
        return buttons;
    }
};

TEST(PatchListUrlTest, IsThePatchListPathOnTheBuildsHost) {
    EXPECT_EQ(std::string(PatchListUrl()),
              QX_PATCHLIST_SCHEME "://" QX_PATCHLIST_HOST "/qx_patchlist_win32");
}

TEST_F(FetchPatchListTest, ThreeFailuresAskThreeTimesThenGiveUp) {
    ASSERT_TRUE(server_.Running());
    server_.SetRule(kList, R"({"status": 500})");
    // Each failure: the error box (OK), then the question: OK, OK, Cancel.
    SetAnswers("ok,ok,ok,ok,ok,cancel");
    EXPECT_FALSE(FetchPatchList(g_exeDir, PatchListBoxes()));
    EXPECT_EQ(server_.RequestCount(kList), 3);
    EXPECT_EQ(Boxes(), (std::vector<Box>{kServerError, kRetryQuestion, kServerError, kRetryQuestion,
                                         kServerError, kRetryQuestion}));
    EXPECT_EQ(Buttons(),
              (std::vector<std::string>{"OK", "OKCANCEL", "OK", "OKCANCEL", "OK", "OKCANCEL"}));
    EXPECT_TRUE(g_patchList.empty());
}

TEST_F(FetchPatchListTest, OkAfterTheThirdFailureStillGivesUp) {
    server_.SetRule(kList, R"({"status": 500})");
    SetAnswers("ok,ok,ok,ok,ok,ok,ok,ok");
    EXPECT_FALSE(FetchPatchList(g_exeDir, PatchListBoxes()));
    EXPECT_EQ(server_.RequestCount(kList), 3);
    EXPECT_EQ(Boxes().size(), 6u);
}

TEST_F(FetchPatchListTest, CancelStopsAfterTheFirstFailure) {
    server_.SetRule(kList, R"({"status": 500})");
    SetAnswers("ok,cancel");
    EXPECT_FALSE(FetchPatchList(g_exeDir, PatchListBoxes()));
    EXPECT_EQ(server_.RequestCount(kList), 1);
}

TEST_F(FetchPatchListTest, ASecondTransferThatSucceedsIsParsedAndSorted) {
    server_.PutFile("qx_patchlist_win32",
                    "#title 补丁列表\r\n"
                    "1.10.0 http://h/p/1.10.0.zip 3 c\r\n"
                    "1.2.0 http://h/p/1.2.0.zip 1 a\r\n"
                    "0.0.0 http://h/p/full.zip 9 f - 1.3.0 full\r\n"
                    "1.9.0 http://h/p/1.9.0.zip 2 b\r\n");
    server_.SetRule(kList, R"({"status": 500, "times": 1})");
    SetAnswers("ok,ok");
    ASSERT_TRUE(FetchPatchList(g_exeDir, PatchListBoxes()));
    EXPECT_EQ(server_.RequestCount(kList), 2);
    EXPECT_EQ(Boxes(), (std::vector<Box>{kServerError, kRetryQuestion}));

    std::vector<std::wstring> versions;
    for (const PatchEntry& e : g_patchList)
        versions.push_back(e.version);
    EXPECT_EQ(versions, (std::vector<std::wstring>{L"0.0.0", L"1.2.0", L"1.9.0", L"1.10.0"}));
    EXPECT_EQ(g_patchList.front().packageVersion, L"1.3.0");
    EXPECT_EQ(g_patchListHeaders[L"title"], L"补丁列表");
}

TEST_F(FetchPatchListTest, AnEmptyListIsASuccess) {
    server_.PutFile("qx_patchlist_win32", "");
    EXPECT_TRUE(FetchPatchList(g_exeDir, PatchListBoxes()));
    EXPECT_TRUE(g_patchList.empty());
    EXPECT_TRUE(Boxes().empty());
}

}  // namespace
}  // namespace qxtest
