// Where the program runs (module file name, current and system folders, Kernel32 look-ups) and
// the named mutex, seen from a second process.
#include <gtest/gtest.h>
#include <unistd.h>

#include "layer_test_util.h"
#include "platform/win32.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

std::wstring HostToWin(const std::string& host) {
    return qxtest::WinPath(host);
}

TEST(Module, ModuleFileNameIsTheExecutableOnDriveZAndTruncates) {
    char exe[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    const std::wstring expected = HostToWin(exe);
    wchar_t buffer[MAX_PATH];
    ASSERT_EQ(GetModuleFileNameW(nullptr, buffer, MAX_PATH), expected.size());
    EXPECT_EQ(std::wstring(buffer), expected);

    wchar_t small[6];
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameW(nullptr, small, 6), 6u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::wstring(small), expected.substr(0, 5));
}

TEST(Module, CurrentAndSystemFolderReportTheNeededSize) {
    qxtest::TempDir dir;
    char old[4096];
    ASSERT_NE(::getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(::chdir(dir.host().c_str()), 0);
    const std::wstring expected = dir.win();
    wchar_t tiny[3] = {L'x', L'x', L'x'};
    EXPECT_EQ(GetCurrentDirectoryW(3, tiny), expected.size() + 1);
    EXPECT_EQ(tiny[0], L'x');  // untouched when too small
    wchar_t buffer[MAX_PATH];
    EXPECT_EQ(GetCurrentDirectoryW(MAX_PATH, buffer), expected.size());
    EXPECT_EQ(std::wstring(buffer), expected);
    ASSERT_EQ(::chdir(old), 0);

    EXPECT_EQ(GetSystemDirectoryW(buffer, MAX_PATH), 19u);
    EXPECT_EQ(std::wstring(buffer), L"C:\\windows\\system32");
    EXPECT_EQ(GetSystemDirectoryW(buffer, 5), 20u);
}

TEST(Module, Kernel32OffersTheToolhelpFunctionsOnly) {
    HMODULE kernel = LoadLibraryW(L"Kernel32.DLL");
    ASSERT_NE(kernel, nullptr);
    EXPECT_EQ(LoadLibraryW(L"KERNEL32.dll"), kernel);
    EXPECT_EQ(GetProcAddress(kernel, "CreateToolhelp32Snapshot"),
              reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&CreateToolhelp32Snapshot)));
    EXPECT_NE(GetProcAddress(kernel, "Process32FirstW"), nullptr);
    EXPECT_NE(GetProcAddress(kernel, "Process32NextW"), nullptr);
    EXPECT_EQ(GetProcAddress(kernel, "Process32First"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(kernel));
    EXPECT_EQ(LoadLibraryW(L"psapi.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

class NamedMutex : public ::testing::Test {
  protected:
    qxtest::TempDir runtime_;
    qxtest::ScopedEnv env_{"XDG_RUNTIME_DIR", runtime_.host()};
};

TEST_F(NamedMutex, SecondProcessSeesAlreadyExistsUntilTheHolderDies) {
    qxtest::ChildHolding holder([] {
        HANDLE mutex = CreateMutexW(nullptr, FALSE, L"__QXWEB_HELPER_MUTEX_NAME__");
        return mutex != nullptr && GetLastError() == ERROR_SUCCESS;
    });
    ASSERT_TRUE(holder.ok());

    HANDLE second = CreateMutexW(nullptr, FALSE, L"__QXWEB_HELPER_MUTEX_NAME__");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(second);

    holder.Kill();  // killed, not closed: the lock still goes with it
    HANDLE third = CreateMutexW(nullptr, FALSE, L"__QXWEB_HELPER_MUTEX_NAME__");
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE again = CreateMutexW(nullptr, FALSE, L"__QXWEB_HELPER_MUTEX_NAME__");
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);  // also within one process
    CloseHandle(again);
    CloseHandle(third);
}

TEST_F(NamedMutex, NamesWithSeparatorsStayInTheRuntimeFolder) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Local\\..\\x");
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(qxtest::SnapshotTree(runtime_.host()).size(), 1u);
    CloseHandle(mutex);
}

}  // namespace
