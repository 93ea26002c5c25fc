// The download stage: which entries it chooses and how it plans their archives (decisions, from
// tables), and its transfers against a real server on 127.0.0.1 in a temporary client folder: the
// order, the cumulative patch's probe, the hash lines, and what makes it fail.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "net/http_client.h"
#include "repair/download_stage.h"
#include "recording_observer.h"
#include "repair_fixture.h"
#include "state/log.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/test_server.h"

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
    return entry;
}

PatchEntry At(const std::string& version, const std::string& packageVersion = "") {
    return Entry(version, L"http://h/" + Wide(version) + L"/p.zip", packageVersion);
}

std::vector<std::wstring> Versions(const std::vector<PatchEntry>& entries) {
    std::vector<std::wstring> versions;
    for (const PatchEntry& entry : entries) {
        versions.push_back(entry.packageVersion.empty() ? entry.version : entry.packageVersion);
    }
    return versions;
}

struct SelectionCase {
    const char* name;
    std::vector<PatchEntry> list;  // sorted
    std::wstring localVersion;
    std::vector<std::wstring> chosen;  // newest first; a package by its package version
};

TEST(SelectDownloadsTest, ChoosesWhatTheClientLacksNewestFirst) {
    std::vector<PatchEntry> ten = {At("0.0.0", "1.1.0")};
    for (int i = 1; i <= 10; ++i) {
        ten.push_back(At("1.0." + std::to_string(i)));
    }
    const std::vector<PatchEntry> packages = {At("0.0.0", "1.5.0"), At("0.0.0", "1.6.0"),
                                              At("0.0.0", "1.5.3"), At("1.4.3"),
                                              At("1.4.4"),          At("1.5.1")};
    const std::vector<PatchEntry> numeric = {At("0.0.0", "1.2.0"), At("1.0.1"), At("1.0.2"),
                                             At("1.0.3"),          At("1.0.4"), At("1.0.10")};
    const SelectionCase cases[] = {
        {"no local version: the eight newest ordinary entries",
         ten,
         L"",
         {L"1.0.10", L"1.0.9", L"1.0.8", L"1.0.7", L"1.0.6", L"1.0.5", L"1.0.4", L"1.0.3"}},
        {"the newest package of the next minor version, alone", packages, L"1.4.2", {L"1.5.3"}},
        {"else every newer ordinary entry, compared as numbers",
         numeric,
         L"1.0.2",
         {L"1.0.10", L"1.0.4", L"1.0.3"}},
        {"nothing newer", numeric, L"1.0.10", {}},
        {"an empty list", {}, L"1.0.0", {}},
    };
    for (const SelectionCase& c : cases) {
        EXPECT_EQ(Versions(SelectDownloads(c.list, c.localVersion)), c.chosen) << c.name;
    }
}

class PlanTest : public RepairFolderTest {};

// Oldest first, each with its own file and folder in TmpPatch; the digest of its hash line.
TEST_F(PlanTest, ArchivesComeOldestFirstEachWithAFileAndAFolderOfItsOwn) {
    const ArchiveHashes hashes = {{L"a.zip", "aa"}, {L"p.zip", "pp"}};
    const RepairPlan plan =
        PlanDownloads({Entry("1.0.3", L"http://h/3/a.zip"), Entry("1.0.2", L"http://h/2/p.zip"),
                       Entry("1.0.2", L"http://h/2b/P.ZIP"), Entry("1.0.1", L"http://h/1/p.zip")},
                      hashes);

    struct Planned {
        std::string url;
        std::wstring file, folder;
        std::string sha256;
    };
    const std::vector<Planned> expected = {{"http://h/1/p.zip", L"p.zip", L"1.0.1", "pp"},
                                           {"http://h/2b/P.ZIP", L"P.ZIP (2)", L"1.0.2", ""},
                                           {"http://h/2/p.zip", L"p.zip (3)", L"1.0.2 (2)", "pp"},
                                           {"http://h/3/a.zip", L"a.zip", L"1.0.3", "aa"}};
    ASSERT_EQ(plan.archives.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const PlannedArchive& archive = plan.archives[i];
        EXPECT_EQ(archive.url, expected[i].url) << i;
        EXPECT_EQ(archive.fileName, expected[i].file) << i;
        EXPECT_EQ(archive.path, client_.win("TmpPatch/") + expected[i].file) << i;
        EXPECT_EQ(archive.folderName, expected[i].folder) << i;
        EXPECT_EQ(archive.extractionFolder, client_.win("TmpPatch/") + expected[i].folder) << i;
        EXPECT_EQ(archive.sha256, expected[i].sha256) << i;
        EXPECT_FALSE(archive.cumulative);
    }
}

TEST_F(PlanTest, TheCumulativePatchIsNamedAfterTheNewestReleaseLine) {
    struct Case {
        std::wstring version, url;
        std::string cumulativeUrl;
        std::wstring file, folder;
    };
    const Case cases[] = {
        {L"1.25.7", L"http://h/r/a.zip", "http://h/r/patch1.25.1.qx.all.win32",
         L"patch1.25.1.qx.all.win32", L"patch1.25.1"},
        {L"7", L"http://h/r7/a.zip", "http://h/r7/patch7.1.qx.all.win32", L"patch7.1.qx.all.win32",
         L"patch7.1"},
        {L"2.0.3", L"a.zip", "a.zip/patch2.0.1.qx.all.win32", L"patch2.0.1.qx.all.win32",
         L"patch2.0.1"},
    };
    for (const Case& c : cases) {
        PatchEntry newest = Entry("x", c.url);
        newest.version = c.version;
        const PlannedArchive planned = PlanCumulativePatch(newest, {});
        EXPECT_EQ(planned.url, c.cumulativeUrl);
        EXPECT_EQ(planned.fileName, c.file);
        EXPECT_EQ(planned.folderName, c.folder);
        EXPECT_TRUE(planned.cumulative);
    }
}

class DownloadStageTest : public RepairFolderTest {
  protected:
    void SetUp() override {
        RepairFolderTest::SetUp();
        qxtest::WriteHostFile(scratch_.host("drive_c/.keep"), "");
        ASSERT_TRUE(PrepareTmpPatchFolder());
        GetHttpClient()->writeEnabled = true;  // as after an earlier download of the process
    }
    // Closes the log before its folder goes.
    void TearDown() override { qxtest::ResetProcessGlobals(); }

    std::string Log() const {
        return qxtest::ReadHostFile(scratch_.host("drive_c/QxWebHelper.txt"));
    }

    // A file on the server under the URL path `urlPath` ("/a/b.zip").
    void Put(const std::string& urlPath, const std::string& content) {
        server_.PutFile(urlPath.substr(1), content);
    }

    // An ordinary entry whose archive on the server holds "<version>;".
    PatchEntry Served(const std::string& version, const std::string& path) {
        Put(path, version + ";");
        return Entry(version, Wide(server_.Url(path)));
    }

    bool Download() { return DownloadPatches(inputs_, plan_, observer_); }

    Tree TmpPatch() const { return Snapshot("TmpPatch"); }

    qxtest::TempDir scratch_;
    qxtest::ScopedEnv retryPause_{"QXWEB_RETRY_PAUSE_MS", "10"};
    qxtest::ScopedEnv prefix_{"QXWEB_PREFIX", scratch_.host()};
    qxtest::TestServer server_;
    RepairInputs inputs_;
    RepairPlan plan_;
    qxtest::RecordingObserver observer_;
};

TEST_F(DownloadStageTest, ArchivesComeOldestFirstThenTheCumulativePatchWhenTheServerHasIt) {
    inputs_.patchList = {Served("1.0.1", "/r/1.0.1/a.zip"), Served("1.0.2", "/r/1.0.2/b.zip")};
    Put("/r/1.0.2/patch1.0.1.qx.all.win32", "cumulative");

    EXPECT_TRUE(Download());

    EXPECT_EQ(observer_.downloadsAnnounced, 3);
    EXPECT_EQ(observer_.downloadsStarted, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(observer_.lastProgress, (std::pair<int, bool>{3, true}));
    EXPECT_TRUE(plan_.cumulativePatchPresent);
    ASSERT_EQ(plan_.archives.size(), 3u);
    EXPECT_TRUE(plan_.archives[2].cumulative);
    const Tree tmp = TmpPatch();
    EXPECT_EQ(tmp.at("a.zip"), "1.0.1;");
    EXPECT_EQ(tmp.at("b.zip"), "1.0.2;");
    EXPECT_EQ(tmp.at("patch1.0.1.qx.all.win32"), "cumulative");
    EXPECT_EQ(tmp.size(), 5u);  // All/ and the probe's "_tmp" file beside them
    EXPECT_EQ(server_.RequestCount("/r/1.0.2/patch1.0.1.qx.all.win32"), 2);  // probe + transfer
    EXPECT_TRUE(observer_.boxes.empty());
}

// Two lines of one version, or two addresses ending in one file name, each keep their file.
TEST_F(DownloadStageTest, EveryLineIsFetchedIntoAFileOfItsOwn) {
    inputs_.patchList = {Served("1.0.1", "/x/p.zip"), Served("1.0.1", "/y/p.zip")};
    Put("/y/p.zip", "second;");

    EXPECT_TRUE(Download());

    const Tree tmp = TmpPatch();
    EXPECT_EQ(tmp.at("p.zip"), "1.0.1;");
    EXPECT_EQ(tmp.at("p.zip (2)"), "second;");
}

TEST_F(DownloadStageTest, NothingNewerOnlyProbesAndTheProbeIsRefusedBeforeAnyDownload) {
    inputs_.localVersion = L"1.0.2";
    inputs_.patchList = {Served("1.0.1", "/1.0.1/p.zip"), Served("1.0.2", "/1.0.2/p.zip")};
    Put("/1.0.2/patch1.0.1.qx.all.win32", "cumulative");
    GetHttpClient()->writeEnabled = false;  // as in a process that has not downloaded yet

    EXPECT_FALSE(Download());

    EXPECT_TRUE(plan_.downloads.empty());
    EXPECT_EQ(observer_.downloadsAnnounced, 1);
    EXPECT_TRUE(observer_.downloadsStarted.empty());
    EXPECT_FALSE(plan_.cumulativePatchPresent);
    EXPECT_EQ(server_.RequestCount("/1.0.2/patch1.0.1.qx.all.win32"), 1);
    EXPECT_EQ(TmpPatch().count("patch1.0.1.qx.all.win32"), 0u);
    EXPECT_NE(Log().find("RemoteFileExistDCallBack callback quite!!!"), std::string::npos);
}

TEST_F(DownloadStageTest, AFailedTransferDoesNotStopTheOthersButFailsTheStage) {
    inputs_.patchList = {Served("1.0.1", "/1.0.1/a.zip"), Served("1.0.2", "/1.0.2/b.zip"),
                         Served("1.0.3", "/1.0.3/c.zip")};
    server_.SetRule("/1.0.2/b.zip", R"({"status": 500})");

    EXPECT_FALSE(Download());

    EXPECT_EQ(observer_.downloadsStarted, (std::vector<int>{1, 2, 3}));
    const Tree tmp = TmpPatch();
    EXPECT_EQ(tmp.at("a.zip"), "1.0.1;");
    EXPECT_EQ(tmp.at("c.zip"), "1.0.3;");
    EXPECT_EQ(observer_.boxes, (std::vector<std::string>{"下载Patch网络异常，错误信息：HTTP 500"}));
}

TEST_F(DownloadStageTest, AnEmptyPatchListMakesNoRequestAndFails) {
    EXPECT_FALSE(Download());

    EXPECT_EQ(observer_.downloadsAnnounced, 1);
    EXPECT_TRUE(observer_.downloadsStarted.empty());
    EXPECT_EQ(TmpPatch(), (Tree{{"All/", ""}}));
}

// The file name after the last "/" of an address, and the cumulative patch's name built from the
// newest version, both come from the server; neither may climb out of TmpPatch or take the place
// of the repair's own folders ("All", "OrgPatch").
TEST_F(DownloadStageTest, NamesThatAreNoPlainNameInTmpPatchAreNeverUsed) {
    inputs_.patchList = {Entry("1.0.1", Wide(server_.Url("/x/")) + L"..\\..\\evil.zip"),
                         Served("1.0.2", "/a/orgpatch"), Served("1.0.3", "/b/All"),
                         Served("..\\..\\evil.9", "/y/p.zip")};

    EXPECT_FALSE(Download());

    EXPECT_EQ(observer_.downloadsStarted, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(TmpPatch(), (Tree{{"All/", ""}, {"p.zip", "..\\..\\evil.9;"}}));
    EXPECT_FALSE(plan_.cumulativePatchPresent);
    EXPECT_EQ(server_.RequestCount("/a/orgpatch") + server_.RequestCount("/b/All"), 0);
    EXPECT_EQ(qxtest::ReadHostFile(client_.host() + "/../evil.zip"), "");
}

TEST_F(DownloadStageTest, PreparingTheTemporaryFolderEmptiesItOrFailsOnAFileInTheWay) {
    Write("TmpPatch/old/left.zip", "old");
    EXPECT_TRUE(PrepareTmpPatchFolder());
    EXPECT_EQ(TmpPatch(), (Tree{{"All/", ""}}));

    qxtest::TempDir other;
    qxtest::WriteHostFile(other.host("TmpPatch"), "a file");
    g_exeDir = other.win() + L"\\";
    EXPECT_FALSE(PrepareTmpPatchFolder());
    EXPECT_EQ(qxtest::ReadHostFile(other.host("TmpPatch")), "a file");
}

const char kDigestOfA[] =
    "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb";  // "a"
const char kDigestOfB[] =
    "3e23e8160039594a33894f6564e1b1348bbd7a0088d42c4acb73eeaed59c009d";  // "b"

// The archive is checked before it goes on: a hash line that matches lets it pass (in any case of
// its hex digits), one that does not gets it downloaded once more, and a second mismatch ends the
// stage at that archive: the rest of a set that is not what its publisher made is not fetched.
TEST_F(DownloadStageTest, AnArchiveFailingItsHashLineTwiceStopsTheStage) {
    Put("/1.0.1/ok.zip", "a");
    Put("/1.0.2/fixed.zip", "b");
    Put("/good.zip", "a");
    Put("/1.0.3/bad.zip", "b");
    Put("/1.0.4/later.zip", "a");
    // fixed.zip is damaged on its first transfer: the server then serves the right bytes.
    server_.SetRule("/1.0.2/fixed.zip", R"({"sequence": [{"replace_with": "good.zip"}]})");
    inputs_.patchList = {Entry("1.0.1", Wide(server_.Url("/1.0.1/ok.zip"))),
                         Entry("1.0.2", Wide(server_.Url("/1.0.2/fixed.zip"))),
                         Entry("1.0.3", Wide(server_.Url("/1.0.3/bad.zip"))),
                         Entry("1.0.4", Wide(server_.Url("/1.0.4/later.zip")))};
    std::string upper = kDigestOfA;
    for (char& c : upper) {
        c = static_cast<char>(toupper(c));
    }
    inputs_.hashes = ReadArchiveHashes({{L"sha256:ok.zip", Wide(kDigestOfA)},
                                        {L"sha256:fixed.zip", Wide(upper)},
                                        {L"sha256:bad.zip", Wide(kDigestOfA)},
                                        {L"sha256:later.zip", Wide(kDigestOfA)}});

    EXPECT_FALSE(Download());

    EXPECT_EQ(TmpPatch(), (Tree{{"All/", ""}, {"fixed.zip", "a"}, {"ok.zip", "a"}}));
    EXPECT_EQ(server_.RequestCount("/1.0.1/ok.zip"), 1);
    EXPECT_EQ(server_.RequestCount("/1.0.2/fixed.zip"), 2);
    EXPECT_EQ(server_.RequestCount("/1.0.3/bad.zip"), 2);
    EXPECT_EQ(server_.RequestCount("/1.0.4/later.zip"), 0);
    EXPECT_EQ(observer_.boxes,
              (std::vector<std::string>{"下载Patch网络异常，错误信息：SHA-256 mismatch"}));
    const std::string mismatch =
        std::string("TmpPatch\\bad.zip: ") + kDigestOfB + ", expected " + kDigestOfA;
    EXPECT_NE(Log().find(mismatch), std::string::npos) << Log();
}

// Without a well-formed line the archive goes on unchecked, and the log says why when the list
// carries hash lines at all; an older publisher's list without any logs nothing, so the log file
// of an earlier run stays as it was.
TEST_F(DownloadStageTest, AMissingOrMalformedHashLineLeavesTheArchiveUncheckedAndIsLogged) {
    inputs_.patchList = {Served("1.0.1", "/1.0.1/short.zip"), Served("1.0.2", "/1.0.2/long.zip"),
                         Served("1.0.3", "/1.0.3/nonhex.zip"), Served("1.0.4", "/1.0.4/none.zip")};
    inputs_.hashes =
        ReadArchiveHashes({{L"sha256:short.zip", std::wstring(63, L'a')},
                           {L"sha256:long.zip", Wide(kDigestOfB) + L"0"},
                           {L"sha256:nonhex.zip", std::wstring(63, L'a') + L"g"},
                           {L"sha256:", Wide(kDigestOfB)},               // no name
                           {L"sha256:elsewhere.zip", Wide(kDigestOfB)},  // not one of these
                           {L"title", L"not a hash line"}});

    EXPECT_TRUE(Download());

    const std::string log = Log();
    for (const char* expected :
         {"malformed hash line ignored: #sha256:short.zip aaaa",
          "malformed hash line ignored: #sha256:long.zip 3e23",
          "malformed hash line ignored: #sha256:nonhex.zip aaaa",
          "malformed hash line ignored: #sha256: 3e23",
          "no SHA-256 line for short.zip: not checked", "no SHA-256 line for long.zip: not checked",
          "no SHA-256 line for none.zip: not checked"}) {
        EXPECT_NE(log.find(expected), std::string::npos) << expected << "\n" << log;
    }
    EXPECT_EQ(log.find("title"), std::string::npos);

    qxtest::ResetProcessGlobals();
    g_exeDir = client_.win() + L"\\";
    GetHttpClient()->writeEnabled = true;
    inputs_.hashes = ReadArchiveHashes({{L"title", L"not a hash line"}});
    EXPECT_TRUE(Download());
    EXPECT_EQ(Log(), log);  // nothing more: the first run's log is still the file
}

}  // namespace
