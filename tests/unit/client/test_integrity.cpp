// The client checks on a real client folder: which main files the integrity check requires, and
// how the local version file and the newest patch-list version decide whether to repair.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "client/integrity.h"
#include "patchlist/patch_list.h"
#include "state/app_state.h"
#include "support/process_globals.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

const char* const kMainFiles[] = {"vazazu.dll", "vazazu.exe", "HashRes/Json.npk", "HashRes/res.npk",
                                  "HashRes/script.npk"};

void WriteFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

// Runs a block with another current directory and restores the previous one afterwards.
class CurrentDirectory {
  public:
    explicit CurrentDirectory(const fs::path& path) : previous_(fs::current_path()) {
        fs::current_path(path);
    }
    ~CurrentDirectory() { fs::current_path(previous_); }
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

  private:
    fs::path previous_;
};

class ClientFolderTest : public testing::Test {
  protected:
    void SetUp() override {
        qxtest::ResetProcessGlobals();
        g_exeDir = dir_.win() + L"\\";
    }
    void TearDown() override { qxtest::ResetProcessGlobals(); }

    fs::path Host(const std::string& relative) const { return fs::path(dir_.host()) / relative; }

    void WriteMainFiles() const {
        for (const char* name : kMainFiles) {
            WriteFile(Host(name), "x");
        }
    }

    static void SetPatchListVersions(std::initializer_list<const wchar_t*> versions) {
        g_patchList.clear();
        for (const wchar_t* version : versions) {
            PatchEntry entry;
            entry.version = version;
            g_patchList.push_back(entry);
        }
    }

    // The checks on the client folder as the start-up and the dialog make them.
    static bool Intact() { return CheckResourceIntegrity(g_exeDir); }
    static bool Needs() { return NeedsRepair(g_exeDir, g_patchList, g_localVersion); }

    qxtest::TempDir dir_;
};

}  // namespace

TEST_F(ClientFolderTest, WithTheVersionFileOnlyTheTwoExecutablesAreRequired) {
    WriteFile(Host("findownload.dat"), "1.2.3");
    WriteFile(Host("vazazu.dll"), "x");
    WriteFile(Host("vazazu.exe"), "x");
    EXPECT_TRUE(Intact());

    fs::remove(Host("vazazu.dll"));
    EXPECT_FALSE(Intact());
}

TEST_F(ClientFolderTest, WithoutTheVersionFileAllFiveFilesAreRequired) {
    WriteMainFiles();
    EXPECT_TRUE(Intact());
    for (const char* name : kMainFiles) {
        fs::rename(Host(name), Host("aside"));
        EXPECT_FALSE(Intact()) << name << " missing";
        fs::rename(Host("aside"), Host(name));
    }
}

TEST_F(ClientFolderTest, FoldersCountAsPresentFiles) {
    fs::create_directories(Host("findownload.dat"));
    fs::create_directories(Host("vazazu.dll"));
    WriteFile(Host("vazazu.exe"), "x");
    EXPECT_TRUE(Intact());
    EXPECT_TRUE(Needs());
    EXPECT_EQ(g_localVersion, L"");
}

TEST_F(ClientFolderTest, ARelativeFolderIsTakenFromTheCurrentDirectory) {
    WriteMainFiles();
    g_exeDir.clear();
    {
        CurrentDirectory inClient(dir_.host());
        EXPECT_TRUE(Intact());
        fs::remove(Host("HashRes/res.npk"));
        EXPECT_FALSE(Intact());
        WriteFile(Host("findownload.dat"), "1.0.0");
        EXPECT_TRUE(Intact());
    }
    EXPECT_FALSE(Intact());
}

TEST_F(ClientFolderTest, NoReadableLocalVersionMeansRepair) {
    SetPatchListVersions({L"1.2.3"});
    EXPECT_TRUE(Needs());
    EXPECT_EQ(g_localVersion, L"");

    WriteFile(Host("findownload.dat"), "");
    EXPECT_TRUE(Needs());
    EXPECT_EQ(g_localVersion, L"");
}

TEST_F(ClientFolderTest, LocalVersionIsComparedWithTheNewestEntry) {
    WriteFile(Host("findownload.dat"), "1.2.3\r\n");
    SetPatchListVersions({L"1.0.0", L"1.2.3"});
    EXPECT_FALSE(Needs());
    EXPECT_EQ(g_localVersion, L"1.2.3\r\n");

    SetPatchListVersions({L"1.2.3", L"1.2.4"});
    EXPECT_TRUE(Needs());

    SetPatchListVersions({});
    EXPECT_TRUE(Needs());
}

TEST_F(ClientFolderTest, ALocalVersionThatIsNotAVersionCountsAsCurrent) {
    WriteFile(Host("findownload.dat"), "客户端");
    SetPatchListVersions({L"9.9.9"});
    EXPECT_FALSE(Needs());
    EXPECT_EQ(g_localVersion, L"客户端");
}

TEST_F(ClientFolderTest, OnlyTheFirst256BytesUpToAZeroByteFormTheVersionText) {
    SetPatchListVersions({L"1.2.4"});
    WriteFile(Host("findownload.dat"), std::string(300, '7'));
    EXPECT_FALSE(Needs());
    EXPECT_EQ(g_localVersion, std::wstring(256, L'7'));

    g_localVersion.clear();
    WriteFile(Host("findownload.dat"), std::string("1.2.3\0"
                                                   "9.9.9",
                                                   11));
    EXPECT_TRUE(Needs());
    EXPECT_EQ(g_localVersion, L"1.2.3");
}
