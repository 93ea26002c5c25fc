// Processes from /proc: a child started by the test is listed by both listings, opened, named,
// terminated and waited for.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/posix/process.h"
#include "platform/win32.h"
#include "support/temp_dir.h"

extern char** environ;

namespace {

// A "sleep 60" child, killed and reaped at the end of the test if still there.
class SleepingChild {
  public:
    SleepingChild() {
        char sleepName[] = "sleep";
        char seconds[] = "60";
        char* argv[] = {sleepName, seconds, nullptr};
        if (::posix_spawnp(&pid_, "sleep", nullptr, nullptr, argv, environ) != 0) {
            pid_ = -1;
        }
    }
    ~SleepingChild() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    DWORD pid() const { return static_cast<DWORD>(pid_); }

  private:
    pid_t pid_ = -1;
};

std::string ExeOf(DWORD pid) {
    char exe[4096] = {};
    std::string link = "/proc/" + std::to_string(pid) + "/exe";
    for (int i = 0; i < 200 && ::readlink(link.c_str(), exe, sizeof exe - 1) <= 0; ++i) {
        ::usleep(10000);  // until exec has happened
    }
    return exe;
}

TEST(Processes, BothListingsFindAChildByItsImageName) {
    SleepingChild child;
    ASSERT_GT(child.pid(), 0u);
    const std::string exe = ExeOf(child.pid());
    ASSERT_NE(exe.find("sleep"), std::string::npos);

    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    ASSERT_NE(snapshot, INVALID_HANDLE_VALUE);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == child.pid()) {
            found = true;
            EXPECT_EQ(std::wstring(entry.szExeFile), L"sleep");
            EXPECT_EQ(entry.th32ParentProcessID, GetCurrentProcessId());
        }
    }
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(found);
    entry.dwSize = 8;
    EXPECT_FALSE(Process32FirstW(snapshot, &entry));
    CloseHandle(snapshot);

    std::vector<DWORD> pids(4096);
    DWORD bytes = 0;
    ASSERT_TRUE(EnumProcesses(pids.data(), 4096 * sizeof(DWORD), &bytes));
    pids.resize(bytes / sizeof(DWORD));
    EXPECT_NE(std::find(pids.begin(), pids.end(), child.pid()), pids.end());
    EXPECT_NE(std::find(pids.begin(), pids.end(), GetCurrentProcessId()), pids.end());

    DWORD two[2];
    ASSERT_TRUE(EnumProcesses(two, sizeof two, &bytes));
    EXPECT_EQ(bytes, sizeof two);  // truncated to what fits
}

TEST(Processes, OpenNameTerminateAndWait) {
    SleepingChild child;
    const std::string exe = ExeOf(child.pid());
    HANDLE process =
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE | SYNCHRONIZE,
                    FALSE, child.pid());
    ASSERT_NE(process, nullptr);
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameExW(process, nullptr, path, MAX_PATH), 0u);
    EXPECT_EQ(std::wstring(path), qxtest::WinPath(exe));
    wchar_t small[4];
    EXPECT_EQ(GetModuleFileNameExW(process, nullptr, small, 4), 3u);
    EXPECT_EQ(std::wstring(small), L"Z:\\");

    EXPECT_EQ(WaitForSingleObject(process, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(process, 50), static_cast<DWORD>(WAIT_TIMEOUT));
    ASSERT_TRUE(TerminateProcess(process, 0));
    // Not reaped by us (it is no child of the handle): a zombie counts as ended.
    EXPECT_EQ(WaitForSingleObject(process, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(process));
}

TEST(Processes, ChildHandleReapsAndMissingPidsAreRefused) {
    pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(3);
    }
    HANDLE child = qx::MakeProcessHandle(pid, true);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(WaitForSingleObject(child, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);  // already reaped by the handle
    EXPECT_FALSE(TerminateProcess(child, 1));         // as Windows: it has ended
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(child);

    EXPECT_EQ(OpenProcess(PROCESS_TERMINATE, FALSE, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
