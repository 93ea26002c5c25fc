// ShellExecuteExW: a real program started with Windows-split parameters in a translated working
// folder, the process handle waiting for it, the lookup on PATH, failures, and the exec events.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/posix/shell_exec.h"
#include "platform/win32.h"
#include "ui_test_env.h"

namespace {

using Args = std::vector<std::wstring>;

TEST(SplitCommandLine, FollowsTheWindowsRules) {
    using qx::ui::SplitCommandLine;
    EXPECT_EQ(Args{}, SplitCommandLine(L""));
    EXPECT_EQ(Args{}, SplitCommandLine(L"  \t "));
    EXPECT_EQ((Args{L"/u", L"C:\\windows\\system32\\ZURuzezuZ.ocx"}),
              SplitCommandLine(L"/u \"C:\\windows\\system32\\ZURuzezuZ.ocx\""));
    EXPECT_EQ((Args{L"a b", L"c", L""}), SplitCommandLine(L" \"a b\"\tc \"\""));
    EXPECT_EQ((Args{L"x\"y"}), SplitCommandLine(L"x\\\"y"));                // \"  -> "
    EXPECT_EQ((Args{L"x\\", L"y"}), SplitCommandLine(L"\"x\\\\\" y"));      // \\" -> \ and a quote
    EXPECT_EQ((Args{L"x\\\"y z"}), SplitCommandLine(L"\"x\\\\\\\"y z\""));  // \\\" -> \"
    EXPECT_EQ((Args{L"C:\\dir\\", L"n"}), SplitCommandLine(L"C:\\dir\\ n"));  // plain backslashes
    EXPECT_EQ((Args{L"say \"hi\" now"}), SplitCommandLine(L"\"say \"\"hi\"\" now\""));
    EXPECT_EQ((Args{L"ab c"}), SplitCommandLine(L"a\"b c"));  // a quote may open mid-argument
}

void WriteScript(const std::string& path, const std::string& body, mode_t mode = 0755) {
    std::ofstream(path) << "#!/bin/sh\n" << body;
    ::chmod(path.c_str(), mode);
}

SHELLEXECUTEINFOW OpenInfo(const wchar_t* file, const wchar_t* params, const wchar_t* dir) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = L"open";
    info.lpFile = file;
    info.lpParameters = params;
    info.lpDirectory = dir;
    info.nShow = SW_SHOW;
    return info;
}

class ShellExecuteTest : public ::testing::Test {
  protected:
    qxtest::TempDir dir_;
    uitest::Transcript transcript_;
};

TEST_F(ShellExecuteTest, StartsTheProgramWithSplitParametersInItsFolderAndWaitsForIt) {
    ::mkdir(dir_.host("work").c_str(), 0755);
    // A descriptor the program holds open without close-on-exec must not reach the child.
    int leaked = ::open(dir_.host("leak").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(leaked, 3);
    WriteScript(dir_.host("game.sh"),
                "pwd > cwd\n"
                "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > args\n"
                "if [ -e /proc/$$/fd/" +
                    std::to_string(leaked) + " ]; then echo yes; else echo no; fi > leaked\n");
    std::wstring file = qxtest::WinPath(dir_.host("game.sh"));
    std::wstring work = qxtest::WinPath(dir_.host("work"));
    const wchar_t* params = L"/u \"C:\\Program Files\\a b.ocx\" \"say \\\"hi\\\"\"";
    SHELLEXECUTEINFOW info = OpenInfo(file.c_str(), params, work.c_str());

    ASSERT_TRUE(ShellExecuteExW(&info));
    ::close(leaked);
    ASSERT_NE(nullptr, info.hProcess);
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(info.hProcess, INFINITE));
    CloseHandle(info.hProcess);

    EXPECT_EQ(std::vector<std::string>{dir_.host("work")},
              uitest::ReadLines(dir_.host("work/cwd")));
    EXPECT_EQ((std::vector<std::string>{"/u", "C:\\Program Files\\a b.ocx", "say \"hi\""}),
              uitest::ReadLines(dir_.host("work/args")));
    EXPECT_EQ(std::vector<std::string>{"no"}, uitest::ReadLines(dir_.host("work/leaked")));
    std::string fileJson = "Z:" + dir_.host("game.sh");
    std::string dirJson = "Z:" + dir_.host("work");
    for (std::string* s : {&fileJson, &dirJson}) {
        for (size_t i = 0; (i = s->find('/', i)) != std::string::npos;) {
            s->replace(i, 1, "\\\\");
        }
    }
    EXPECT_EQ(std::vector<std::string>{"{\"event\":\"exec\",\"file\":\"" + fileJson +
                                       "\",\"params\":\"/u \\\"C:\\\\Program Files\\\\a b.ocx\\\" "
                                       "\\\"say \\\\\\\"hi\\\\\\\"\\\"\",\"dir\":\"" +
                                       dirJson + "\",\"ok\":true}"},
              transcript_.Lines());
}

TEST_F(ShellExecuteTest, ABareNameIsFoundOnPath) {
    WriteScript(dir_.host("regsvr32"), "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/ran\"\n");
    std::string path = dir_.host() + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "");
    qxtest::ScopedEnv env("PATH", path.c_str());
    SHELLEXECUTEINFOW info = OpenInfo(L"regsvr32", L"/u \"C:\\x.ocx\"", nullptr);
    ASSERT_TRUE(ShellExecuteExW(&info));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(info.hProcess, INFINITE));
    CloseHandle(info.hProcess);
    EXPECT_EQ((std::vector<std::string>{"/u", "C:\\x.ocx"}), uitest::ReadLines(dir_.host("ran")));
    EXPECT_EQ(
        std::vector<std::string>{
            R"({"event":"exec","file":"regsvr32","params":"/u \"C:\\x.ocx\"","dir":"","ok":true})"},
        transcript_.Lines());
}

TEST_F(ShellExecuteTest, FailuresReturnFalseWithTheReasonAndAreRecorded) {
    WriteScript(dir_.host("plain.txt"), "exit 0\n", 0644);
    ::mkdir(dir_.host("folder").c_str(), 0755);
    WriteScript(dir_.host("ok.sh"), "exit 0\n");
    struct Case {
        std::wstring file;
        std::wstring dir;
        DWORD error;
    } cases[] = {
        {qxtest::WinPath(dir_.host("missing.exe")), L"", ERROR_FILE_NOT_FOUND},
        {qxtest::WinPath(dir_.host("plain.txt")), L"", ERROR_ACCESS_DENIED},  // not executable
        {qxtest::WinPath(dir_.host("folder")), L"", ERROR_ACCESS_DENIED},
        {L"no-such-program-on-path-qx", L"", ERROR_FILE_NOT_FOUND},
        {qxtest::WinPath(dir_.host("ok.sh")), qxtest::WinPath(dir_.host("nowhere")),
         ERROR_DIRECTORY},
    };
    for (const Case& c : cases) {
        SHELLEXECUTEINFOW info =
            OpenInfo(c.file.c_str(), nullptr, c.dir.empty() ? nullptr : c.dir.c_str());
        SetLastError(0);
        EXPECT_FALSE(ShellExecuteExW(&info));
        EXPECT_EQ(c.error, GetLastError());
        EXPECT_EQ(nullptr, info.hProcess);
    }
    std::vector<std::string> lines = transcript_.Lines();
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ(
        R"({"event":"exec","file":"no-such-program-on-path-qx","params":"","dir":"","ok":false})",
        lines[3]);
}

}  // namespace
