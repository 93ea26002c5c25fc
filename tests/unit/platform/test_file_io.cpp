// ReadFile and WriteFile go through the system-call table: the fault table fails them like any
// other read or write of the program's files.
#include <gtest/gtest.h>

#include "platform/posix/syscalls.h"
#include "platform/win32.h"
#include "support/temp_dir.h"

namespace {

TEST(FileIo, TheFaultTableReachesReadFileAndWriteFile) {
    qxtest::TempDir dir;
    qxtest::WriteHostFile(dir.host("file.txt"), "data");
    HANDLE file = CreateFileW(dir.win("file.txt").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(qx::InjectFaults("read:1:EIO:file.txt,write:1:ENOSPC:file.txt"));

    char buffer[8];
    DWORD count = 1;
    EXPECT_FALSE(ReadFile(file, buffer, sizeof(buffer), &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(WriteFile(file, "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_TRUE(ReadFile(file, buffer, sizeof(buffer), &count, nullptr));
    EXPECT_EQ(std::string(buffer, count), "data");
    CloseHandle(file);
    qx::ClearFaults();
}

}  // namespace
