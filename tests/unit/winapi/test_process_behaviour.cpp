// The process-wide calls of the start-up: the named mutex of the single-instance guard, and the
// two process listings (Toolhelp looked up in Kernel32.DLL at run time, and EnumProcesses with
// GetModuleFileNameExW), seen from the test program's own process.
#include <algorithm>
#include <string>
#include <vector>

#include "winapi_fixture.h"

namespace {

using qxtest::Handle;

std::wstring OwnModulePath() {
    std::vector<wchar_t> buffer(1024);
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    return std::wstring(buffer.data(), length);
}

std::wstring FileNameOf(const std::wstring& path) {
    size_t separator = path.find_last_of(L'\\');
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

// A name no other test program uses at the same time.
std::wstring MutexName() {
    return L"__QXWEB_TEST_MUTEX_" + std::to_wstring(GetCurrentProcessId()) + L"__";
}

TEST(NamedMutex, ASecondCreationSeesTheFirstUntilBothAreClosed) {
    const std::wstring name = MutexName();
    Handle first(CreateMutexW(nullptr, FALSE, name.c_str()));
    ASSERT_TRUE(first.Valid());
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

    Handle second(CreateMutexW(nullptr, FALSE, name.c_str()));
    EXPECT_TRUE(second.Valid());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

    second.Close();
    first.Close();
    Handle again(CreateMutexW(nullptr, FALSE, name.c_str()));
    EXPECT_TRUE(again.Valid());
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
}

TEST(ProcessListing, TheModulePathIsAWindowsPathOfTheRunningProgram) {
    const std::wstring path = OwnModulePath();
    ASSERT_GT(path.size(), 3u);
    EXPECT_EQ(path.substr(1, 2), L":\\");
    EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(ProcessListing, ToolhelpFromKernel32ListsThisProcessByItsFileName) {
    using Snapshot = HANDLE(WINAPI*)(DWORD, DWORD);
    using Walk = BOOL(WINAPI*)(HANDLE, LPPROCESSENTRY32W);
    HMODULE kernel = LoadLibraryW(L"Kernel32.DLL");
    ASSERT_NE(kernel, nullptr);
    // The detour through void(*)() states that the looked-up address has this signature.
    auto snapshotFn = reinterpret_cast<Snapshot>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "CreateToolhelp32Snapshot")));
    auto firstFn = reinterpret_cast<Walk>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "Process32FirstW")));
    auto nextFn = reinterpret_cast<Walk>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "Process32NextW")));
    ASSERT_TRUE(snapshotFn != nullptr && firstFn != nullptr && nextFn != nullptr);

    Handle snapshot(snapshotFn(TH32CS_SNAPPROCESS, 0));
    ASSERT_TRUE(snapshot.Valid());
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    std::wstring ownName;
    int processes = 0;
    for (BOOL more = firstFn(snapshot.Get(), &entry); more; more = nextFn(snapshot.Get(), &entry)) {
        ++processes;
        if (entry.th32ProcessID == GetCurrentProcessId())
            ownName = entry.szExeFile;
    }
    EXPECT_GT(processes, 1);
    EXPECT_EQ(ownName, FileNameOf(OwnModulePath()));
    FreeLibrary(kernel);
}

TEST(ProcessListing, EnumProcessesAndTheModulePathOfAProcess) {
    std::vector<DWORD> ids(4096);
    DWORD bytes = 0;
    ASSERT_TRUE(EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes));
    ids.resize(bytes / sizeof(DWORD));
    EXPECT_NE(std::find(ids.begin(), ids.end(), GetCurrentProcessId()), ids.end());

    Handle self(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, GetCurrentProcessId()));
    ASSERT_TRUE(self.Valid());
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameExW(self.Get(), nullptr, path, MAX_PATH);
    EXPECT_EQ(std::wstring(path, length), OwnModulePath());
}

}  // namespace
