// The download stage against a real server on 127.0.0.1, in a temporary client folder: which
// entries it chooses, the order and names of the transfers, the cumulative patch's probe, and
// what makes it fail. Archives with the same file name land in one file, so their content shows
// the order of the transfers.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "state/log.h"
#include "net/http_client.h"
#include "patchlist/patch_list.h"
#include "repair/download_stage.h"
#include "repair_fixture.h"
#include "state/log.h"
#include "state/progress_state.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/test_server.h"
#include "support/transcript_reader.h"

namespace {

using Tree = std::map<std::string, std::string>;

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

PatchEntry Entry(const std::string& version, const std::wstring& url,
                 const std::string& packageVersion = "") {
    PatchEntry entry;
    entry.version = Wide(version);
    entry.url = url;
    entry.info = L"info " + entry.version;
    entry.number = 7;
    entry.packageVersion = Wide(packageVersion);
    entry.packageInfo = entry.packageVersion.empty() ? L"" : L"full package";
    return entry;
}

class DownloadStageTest : public RepairFolderTest {
  protected:
    void SetUp() override {
        RepairFolderTest::SetUp();
        qxtest::WriteHostFile(scratch_.host("drive_c/.keep"), "");
        ASSERT_EQ(PrepareTmpPatchFolder(), 1);
    }
    // Closes the log before its folder goes.
    void TearDown() override { qxtest::ResetProcessGlobals(); }

    std::string Log() const {
        return qxtest::ReadHostFile(scratch_.host("drive_c/QxWebHelper.txt"));
    }
    std::vector<qxtest::Box> Boxes() const {
        return qxtest::BoxesOf(qxtest::ReadTranscript(transcript()));
    }

    std::string transcript() const { return scratch_.host("transcript.jsonl"); }

    // A file on the server under the URL path `urlPath` ("/a/b.zip").
    void Put(const std::string& urlPath, const std::string& content) {
        server_.PutFile(urlPath.substr(1), content);
    }

    // An ordinary entry whose archive on the server holds "<version>;".
    PatchEntry Served(const std::string& version, const std::string& path) {
        Put(path, version + ";");
        return Entry(version, Wide(server_.Url(path)));
    }

    // A full-package line: version "0.0.0", so sorted lists hold it first.
    PatchEntry Package(const std::string& path, const std::string& packageVersion) {
        return Entry("0.0.0", Wide(server_.Url(path)), packageVersion);
    }

    Tree TmpPatch() const { return Snapshot("TmpPatch"); }

    qxtest::TempDir scratch_;
    qxtest::ScopedEnv answers_{"QXWEB_ANSWERS", ""};
    qxtest::ScopedEnv transcript_{"QXWEB_TRANSCRIPT", transcript()};
    qxtest::ScopedEnv retryPause_{"QXWEB_RETRY_PAUSE_MS", "10"};
    qxtest::ScopedEnv prefix_{"QXWEB_PREFIX", scratch_.host()};
    qxtest::TestServer server_;
};

TEST_F(DownloadStageTest, WithoutLocalVersionTheEightNewestOrdinaryEntriesComeOldestFirst) {
    g_patchList.push_back(Package("/full/f.zip", "1.1.0"));
    for (int i = 1; i <= 10; ++i)
        g_patchList.push_back(
            Served("1.0." + std::to_string(i), "/1.0." + std::to_string(i) + "/p.zip"));

    std::vector<PatchEntry> downloads;
    EXPECT_TRUE(DownloadPatches(downloads));

    const std::vector<PatchEntry> newestFirst(g_patchList.rbegin(), g_patchList.rbegin() + 8);
    EXPECT_EQ(downloads, newestFirst);
    EXPECT_EQ(g_downloadTotal, 9);
    EXPECT_EQ(g_downloadScale, (1.0f / 9) * 0.7f);
    EXPECT_EQ(g_downloadDone, 8);
    const Tree tmp = TmpPatch();
    EXPECT_EQ(tmp.at("p.zip"), "1.0.3;1.0.4;1.0.5;1.0.6;1.0.7;1.0.8;1.0.9;1.0.10;");
    EXPECT_EQ(tmp.size(), 3u);  // All/, p.zip and the probe's "_tmp" file
    EXPECT_EQ(tmp.count("patch1.0.1.qx.all.win32_tmp"), 1u);
    EXPECT_EQ(server_.RequestCount("/full/f.zip"), 0);
    EXPECT_EQ(server_.RequestCount("/1.0.10/patch1.0.1.qx.all.win32"), 1);  // the probe only
    EXPECT_FALSE(GetHttpClient()->cumulativePatchPresent);
}

TEST_F(DownloadStageTest, TheNextMinorFullPackageIsTakenAloneWithTheCumulativePatch) {
    g_localVersion = L"1.4.2";
    Put("/pkg153/full.zip", "full 1.5.3");
    Put("/1.5.1/patch1.5.1.qx.all.win32", "cumulative");
    // Walking back from the newest line, the first package of the next minor version wins.
    g_patchList = {Package("/pkg150/full.zip", "1.5.0"), Package("/pkg160/full.zip", "1.6.0"),
                   Package("/pkg153/full.zip", "1.5.3"), Served("1.4.3", "/1.4.3/p.zip"),
                   Served("1.4.4", "/1.4.4/p.zip"),      Served("1.5.1", "/1.5.1/p.zip")};

    std::vector<PatchEntry> downloads;
    EXPECT_TRUE(DownloadPatches(downloads));

    EXPECT_EQ(downloads, std::vector<PatchEntry>{g_patchList[2]});
    EXPECT_EQ(g_downloadTotal, 2);
    EXPECT_EQ(g_downloadDone, 2);
    EXPECT_TRUE(GetHttpClient()->cumulativePatchPresent);
    const Tree tmp = TmpPatch();
    EXPECT_EQ(tmp.at("full.zip"), "full 1.5.3");
    EXPECT_EQ(tmp.at("patch1.5.1.qx.all.win32"), "cumulative");
    EXPECT_EQ(tmp.size(), 4u);  // All/, the two archives and the probe's "_tmp" file
    EXPECT_EQ(server_.RequestCount("/1.5.1/patch1.5.1.qx.all.win32"), 2);  // probe + transfer
    EXPECT_EQ(server_.RequestCount("/1.4.3/p.zip") + server_.RequestCount("/1.5.1/p.zip") +
                  server_.RequestCount("/pkg150/full.zip") +
                  server_.RequestCount("/pkg160/full.zip"),
              0);
}

TEST_F(DownloadStageTest, WithoutAMatchingPackageEveryNewerOrdinaryEntryComparedNumerically) {
    g_localVersion = L"1.0.2";
    g_patchList = {Package("/pkg/full.zip", "1.2.0"), Served("1.0.1", "/1.0.1/p.zip"),
                   Served("1.0.2", "/1.0.2/p.zip"),   Served("1.0.3", "/1.0.3/p.zip"),
                   Served("1.0.4", "/1.0.4/p.zip"),   Served("1.0.10", "/1.0.10/p.zip")};

    std::vector<PatchEntry> downloads;
    EXPECT_TRUE(DownloadPatches(downloads));

    EXPECT_EQ(downloads, (std::vector<PatchEntry>{g_patchList[5], g_patchList[4], g_patchList[3]}));
    EXPECT_EQ(g_downloadTotal, 4);
    EXPECT_EQ(TmpPatch().at("p.zip"), "1.0.3;1.0.4;1.0.10;");
    EXPECT_EQ(server_.RequestCount("/1.0.10/patch1.0.1.qx.all.win32"), 1);
}

TEST_F(DownloadStageTest, AVersionWithoutDotsNamesTheCumulativePatchAfterItsWholeText) {
    g_patchList = {Served("7", "/r7/p.zip")};
    Put("/r7/patch7.1.qx.all.win32", "cumulative 7");

    std::vector<PatchEntry> downloads;
    EXPECT_TRUE(DownloadPatches(downloads));

    EXPECT_EQ(TmpPatch().at("patch7.1.qx.all.win32"), "cumulative 7");
    EXPECT_EQ(server_.RequestCount("/r7/patch7.1.qx.all.win32"), 2);
    EXPECT_EQ(g_downloadDone, 2);
}

TEST_F(DownloadStageTest, AFailedTransferDoesNotStopTheOthersButFailsTheStage) {
    g_patchList = {Served("1.0.1", "/1.0.1/a.zip"), Served("1.0.2", "/1.0.2/b.zip"),
                   Served("1.0.3", "/1.0.3/c.zip")};
    server_.SetRule("/1.0.2/b.zip", R"({"status": 500})");

    std::vector<PatchEntry> downloads;
    EXPECT_FALSE(DownloadPatches(downloads));

    EXPECT_EQ(g_downloadDone, 3);
    const Tree tmp = TmpPatch();
    EXPECT_EQ(tmp.at("a.zip"), "1.0.1;");
    EXPECT_EQ(tmp.at("c.zip"), "1.0.3;");
    EXPECT_EQ(server_.RequestCount("/1.0.3/c.zip"), 1);
    const std::vector<qxtest::Box> boxes = qxtest::BoxesOf(qxtest::ReadTranscript(transcript()));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.rfind("下载Patch网络异常，错误信息：", 0), 0u) << boxes[0].text;
}

TEST_F(DownloadStageTest, AnEmptyPatchListMakesNoRequestAndFails) {
    std::vector<PatchEntry> downloads;
    EXPECT_FALSE(DownloadPatches(downloads));

    EXPECT_TRUE(downloads.empty());
    EXPECT_EQ(g_downloadTotal, 1);
    EXPECT_EQ(g_downloadScale, 0.7f);
    EXPECT_EQ(g_downloadDone, 0);
    EXPECT_EQ(TmpPatch(), (Tree{{"All/", ""}}));
}

TEST_F(DownloadStageTest, NothingNewerOnlyProbesAndTheProbeIsRefusedBeforeAnyDownload) {
    g_localVersion = L"1.0.2";
    g_patchList = {Served("1.0.1", "/1.0.1/p.zip"), Served("1.0.2", "/1.0.2/p.zip")};
    Put("/1.0.2/patch1.0.1.qx.all.win32", "cumulative");
    GetHttpClient()->writeEnabled = false;  // as in a process that has not downloaded yet

    std::vector<PatchEntry> downloads;
    EXPECT_FALSE(DownloadPatches(downloads));

    EXPECT_TRUE(downloads.empty());
    EXPECT_EQ(g_downloadTotal, 1);
    EXPECT_EQ(g_downloadDone, 0);
    EXPECT_FALSE(GetHttpClient()->cumulativePatchPresent);
    EXPECT_EQ(server_.RequestCount("/1.0.2/patch1.0.1.qx.all.win32"), 1);
    EXPECT_EQ(TmpPatch().count("patch1.0.1.qx.all.win32"), 0u);
}

TEST_F(DownloadStageTest, NamesThatWouldLeaveTheTemporaryFolderAreNeverUsed) {
    // The file name after the last "/" of an address, and the cumulative patch's name built from
    // the newest version, both come from the server; neither may climb out of TmpPatch.
    g_patchList = {Entry("1.0.1", Wide(server_.Url("/x/")) + L"..\\..\\evil.zip"),
                   Served("..\\..\\evil.9", "/y/p.zip")};
    GetHttpClient()->cumulativePatchPresent = true;

    std::vector<PatchEntry> downloads;
    EXPECT_FALSE(DownloadPatches(downloads));

    EXPECT_EQ(g_downloadDone, 2);  // both announced, the first refused
    EXPECT_EQ(TmpPatch(), (Tree{{"All/", ""}, {"p.zip", "..\\..\\evil.9;"}}));
    EXPECT_FALSE(GetHttpClient()->cumulativePatchPresent);
    EXPECT_EQ(qxtest::ReadHostFile(client_.host() + "/../evil.zip"), "");
}

TEST_F(DownloadStageTest, AnArchiveNamedLikeTheRepairsOwnFoldersIsNeverFetched) {
    // A file "OrgPatch" in TmpPatch would stand where the backup goes; "All" is the merged tree.
    g_patchList = {Served("1.0.1", "/a/orgpatch"), Served("1.0.2", "/b/All")};

    std::vector<PatchEntry> downloads;
    EXPECT_FALSE(DownloadPatches(downloads));

    EXPECT_EQ(g_downloadDone, 2);
    EXPECT_EQ(server_.RequestCount("/a/orgpatch"), 0);
    EXPECT_EQ(server_.RequestCount("/b/All"), 0);
    EXPECT_EQ(TmpPatch().count("orgpatch"), 0u);
}

TEST_F(DownloadStageTest, PreparingTheTemporaryFolderEmptiesItOrFailsOnAFileInTheWay) {
    Write("TmpPatch/old/left.zip", "old");
    EXPECT_EQ(PrepareTmpPatchFolder(), 1);
    EXPECT_EQ(TmpPatch(), (Tree{{"All/", ""}}));

    qxtest::TempDir other;
    qxtest::WriteHostFile(other.host("TmpPatch"), "a file");
    g_exeDir = other.win() + L"\\";
    EXPECT_EQ(PrepareTmpPatchFolder(), 0);
    EXPECT_EQ(qxtest::ReadHostFile(other.host("TmpPatch")), "a file");
}

}  // namespace

namespace {

const char kDigestOfA[] =
    "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb";  // "a"
const char kDigestOfB[] =
    "3e23e8160039594a33894f6564e1b1348bbd7a0088d42c4acb73eeaed59c009d";  // "b"

// The archive is checked before it goes on: a hash line that matches lets it pass, one that does
// not gets it downloaded once more, and a second mismatch fails the stage.
TEST_F(DownloadStageTest, AnArchiveWithAHashLineIsCheckedAndFetchedOnceMoreOnAMismatch) {
    Put("/1.0.1/ok.zip", "a");
    Put("/1.0.2/bad.zip", "b");
    Put("/1.0.3/fixed.zip", "b");
    Put("/good.zip", "a");
    // fixed.zip is damaged on its first transfer: the server then serves the right bytes.
    server_.SetRule("/1.0.3/fixed.zip", R"({"sequence": [{"replace_with": "good.zip"}]})");
    g_patchList = {Entry("1.0.1", Wide(server_.Url("/1.0.1/ok.zip"))),
                   Entry("1.0.2", Wide(server_.Url("/1.0.2/bad.zip"))),
                   Entry("1.0.3", Wide(server_.Url("/1.0.3/fixed.zip")))};
    g_patchListHeaders[L"sha256:ok.zip"] = Wide(kDigestOfA);
    g_patchListHeaders[L"sha256:bad.zip"] = Wide(kDigestOfA);
    std::string upper = kDigestOfA;
    for (char& c : upper) {
        c = static_cast<char>(toupper(c));
    }
    g_patchListHeaders[L"sha256:fixed.zip"] = Wide(upper);

    std::vector<PatchEntry> downloads;
    EXPECT_FALSE(DownloadPatches(downloads));

    const Tree tmp = TmpPatch();
    EXPECT_EQ(tmp.at("ok.zip"), "a");
    EXPECT_EQ(tmp.at("fixed.zip"), "a");
    EXPECT_EQ(tmp.count("bad.zip"), 0u);  // never left for the extraction
    EXPECT_EQ(server_.RequestCount("/1.0.1/ok.zip"), 1);
    EXPECT_EQ(server_.RequestCount("/1.0.2/bad.zip"), 2);
    EXPECT_EQ(server_.RequestCount("/1.0.3/fixed.zip"), 2);
    EXPECT_EQ(
        Boxes(),
        (std::vector<qxtest::Box>{{"提示", "下载Patch网络异常，错误信息：SHA-256 mismatch"}}));
    const std::string log = Log();
    const std::string mismatch =
        std::string("TmpPatch\\bad.zip: ") + kDigestOfB + ", expected " + kDigestOfA;
    EXPECT_NE(log.find(mismatch), std::string::npos) << log;
}

// Without a well-formed line the archive goes on unchecked, as before, and the log says why when
// the list carries hash lines at all.
TEST_F(DownloadStageTest, AMissingOrMalformedHashLineLeavesTheArchiveUncheckedAndIsLogged) {
    g_patchList = {Served("1.0.1", "/1.0.1/short.zip"), Served("1.0.2", "/1.0.2/nonhex.zip"),
                   Served("1.0.3", "/1.0.3/none.zip")};
    g_patchListHeaders[L"sha256:short.zip"] = std::wstring(63, L'a');
    g_patchListHeaders[L"sha256:nonhex.zip"] = std::wstring(63, L'a') + L"g";
    g_patchListHeaders[L"sha256:"] = Wide(kDigestOfB);               // no name
    g_patchListHeaders[L"sha256:elsewhere.zip"] = Wide(kDigestOfB);  // not one of these
    g_patchListHeaders[L"title"] = L"not a hash line";

    std::vector<PatchEntry> downloads;
    EXPECT_TRUE(DownloadPatches(downloads));

    const Tree tmp = TmpPatch();
    EXPECT_EQ(tmp.at("short.zip"), "1.0.1;");
    EXPECT_EQ(tmp.at("nonhex.zip"), "1.0.2;");
    EXPECT_EQ(tmp.at("none.zip"), "1.0.3;");
    const std::string log = Log();
    for (const char* expected : {"malformed hash line ignored: #sha256:short.zip aaaa",
                                 "malformed hash line ignored: #sha256:nonhex.zip aaaa",
                                 "malformed hash line ignored: #sha256: 3e23",
                                 "no SHA-256 line for short.zip: not checked",
                                 "no SHA-256 line for nonhex.zip: not checked",
                                 "no SHA-256 line for none.zip: not checked"}) {
        EXPECT_NE(log.find(expected), std::string::npos) << expected << "\n" << log;
    }
    EXPECT_EQ(log.find("title"), std::string::npos);
}

// An older publisher's list has no hash lines: nothing is checked and nothing is logged, so the
// log file of an earlier run stays as it was.
TEST_F(DownloadStageTest, AListWithoutHashLinesLogsNothing) {
    g_patchList = {Served("1.0.1", "/1.0.1/none.zip")};
    g_patchListHeaders[L"title"] = L"not a hash line";

    std::vector<PatchEntry> downloads;
    EXPECT_TRUE(DownloadPatches(downloads));

    EXPECT_EQ(TmpPatch().at("none.zip"), "1.0.1;");
    EXPECT_EQ(Log(), "");
}

}  // namespace
