// The diagnostic log written from two threads at once, as the repair worker and the start-up's
// main thread may: one banner, every line whole; the line a failed file step leaves; and paths
// whose characters the log's encoding (the ANSI code page) cannot hold.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fsutil/file_failure.h"
#include "state/log.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(prefix_.host("drive_c"));
        setenv("QXWEB_PREFIX", prefix_.host().c_str(), 1);
        LogClose();
        g_log = nullptr;  // the next entry opens the log anew, in this prefix
    }
    void TearDown() override {
        LogClose();
        g_log = nullptr;
        unsetenv("QXWEB_PREFIX");
    }
    std::vector<std::string> Lines() const {
        std::istringstream text(qxtest::ReadHostFile(prefix_.host("drive_c/QxWebHelper.txt")));
        std::vector<std::string> lines;
        for (std::string line; std::getline(text, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    qxtest::TempDir prefix_;
};

TEST_F(LogTest, TwoThreadsOpenTheLogOnceAndNeverMixTheirLines) {
    const int kEntries = 300;
    auto writer = [&](const wchar_t* name) {
        for (int i = 0; i < kEntries; ++i) {
            LogWrite(g_log, L"%ls entry %d of a line long enough to be written in pieces %ls", name,
                     i, std::wstring(200, L'.').c_str());
        }
    };
    std::thread first(writer, L"first");
    std::thread second(writer, L"second");
    first.join();
    second.join();

    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 4u + 2 * kEntries);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(lines[i], "================================\r");
    }
    const std::regex entry(
        R"(\[\d\d:\d\d\.\d\d\] (first|second) entry \d+ of a line long enough to be written in )"
        R"(pieces \.{200}\r)");
    for (size_t i = 4; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_match(lines[i], entry)) << lines[i];
    }
}

TEST_F(LogTest, AFailedStepNamesTheCallThePathsTheCodeAndTheSystemsText) {
    FileFailure failure;
    failure.call = L"CopyFileW";
    failure.path = L"Z:\\c\\TmpPatch\\OrgPatch\\pkres\\a.pk";
    failure.target = L"Z:\\c\\Documents\\pkres\\a.pk";
    failure.error = ERROR_ACCESS_DENIED;
    LogFailure(L"restoring the patch folders", failure);
    LogFailure(L"download", FileFailure());

    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(
        lines[4].substr(11),
        "restoring the patch folders failed: CopyFileW Z:\\c\\TmpPatch\\OrgPatch\\pkres\\a.pk "
        "-> Z:\\c\\Documents\\pkres\\a.pk: error 5: Access is denied.\r");
    EXPECT_EQ(lines[5].substr(11), "download failed: no file operation failed\r");
}

// Each line in the bytes of the code page; what it cannot hold is escaped, never dropped or "?".
TEST_F(LogTest, CharactersOutsideTheCodePageAreEscapedByTheirCodePoint) {
    const struct {
        const char* codePage;
        std::wstring message;
        std::string line;
    } cases[] = {
        {"936", L"Z:\\客户端 한글\\1.zip?",
         "Z:\\\xBF\xCD\xBB\xA7\xB6\xCB <U+D55C><U+AE00>\\1.zip?"},
        {"1252", L"café 客", "caf\xE9 <U+5BA2>"},
        {"", L"客户端 한글", "客户端 한글"},
        {"", std::wstring(1, static_cast<wchar_t>(0xDC00)) + L"x", "<U+DC00>x"},
    };
    for (const auto& c : cases) {
        const qxtest::ScopedEnv codePage("QXWEB_ANSI_CODEPAGE", c.codePage);
        LogWrite(g_log, L"%ls", c.message.c_str());
    }
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 4u + 4);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(lines[4 + i].substr(11), cases[i].line + "\r") << cases[i].codePage;
    }
}

}  // namespace
