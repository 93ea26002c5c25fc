// The file functions where only the layer can be checked (what real Win32 shares is in
// tests/unit/winapi): links, read-only files and folders (the tests run as root, so the layer
// itself must refuse), files locked by another process, and copies the kernel cannot make.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "layer_test_util.h"
#include "platform/posix/syscalls.h"
#include "platform/win32.h"
#include "support/temp_dir.h"

namespace {

using qxtest::ReadHostFile;
using qxtest::WriteHostFile;

class Files : public ::testing::Test {
  protected:
    void TearDown() override {
        qx::ClearFaults();
        qx::ResetSyscalls();
    }
    qxtest::TempDir dir_;
};

TEST_F(Files, AttributesFollowTheHostRules) {
    WriteHostFile(dir_.host("file.txt"), "x");
    ::mkdir(dir_.host("plain").c_str(), 0755);
    ::mkdir(dir_.host(".hiddendir").c_str(), 0755);
    ::mkdir(dir_.host("readonlydir").c_str(), 0555);
    ::symlink(dir_.host("plain").c_str(), dir_.host("linkdir").c_str());
    ::symlink(dir_.host("file.txt").c_str(), dir_.host("linkfile").c_str());
    ::symlink(dir_.host("missing").c_str(), dir_.host("dangling").c_str());

    std::map<std::string, DWORD> actual;
    for (const char* name : {".hiddendir", "readonlydir", "linkdir", "linkfile", "dangling"}) {
        actual[name] = GetFileAttributesW(dir_.win(name).c_str());
    }
    const std::map<std::string, DWORD> expected = {
        {".hiddendir", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN},
        {"readonlydir", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY},
        {"linkdir", FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY},
        {"linkfile", FILE_ATTRIBUTE_REPARSE_POINT},
        {"dangling", FILE_ATTRIBUTE_REPARSE_POINT},
    };
    EXPECT_EQ(actual, expected);
    // The same folder through a trailing separator, "." and forward slashes.
    EXPECT_EQ(GetFileAttributesW((dir_.win("plain") + L"\\").c_str()), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesW((dir_.win() + L"\\.").c_str()), FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(Files, AReadOnlyFileRefusesEveryStreamThatWritesEvenForRoot) {
    WriteHostFile(dir_.host("locked.txt"), "old");
    ::chmod(dir_.host("locked.txt").c_str(), 0444);
    const std::wstring locked = dir_.win("locked.txt");

    for (const wchar_t* mode : {L"w", L"ab+", L"r+b", L"wb"}) {
        errno = 0;
        EXPECT_EQ(_wfopen(locked.c_str(), mode), nullptr) << mode;
        EXPECT_EQ(errno, EACCES) << mode;
    }
    EXPECT_EQ(fopen(qxtest::NarrowWinPath(dir_.host("locked.txt")).c_str(), "wb"), nullptr);
    EXPECT_EQ(errno, EACCES);
    // Reading stays possible, and nothing above touched the content.
    FILE* file = _wfopen(locked.c_str(), L"rb");
    ASSERT_NE(file, nullptr);
    fclose(file);
    EXPECT_EQ(ReadHostFile(dir_.host("locked.txt")), "old");
}

TEST_F(Files, FileLockedByAnotherProcessIsInUse) {
    WriteHostFile(dir_.host("source.txt"), "new");
    WriteHostFile(dir_.host("busy.dll"), "old");
    const std::string busyHost = dir_.host("busy.dll");
    qxtest::ChildHolding child([&] { return qxtest::LockInChild(busyHost.c_str()); });
    ASSERT_TRUE(child.ok());
    const std::wstring busy = dir_.win("busy.dll");

    EXPECT_EQ(CreateFileW(busy.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(DeleteFileW(busy.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(CopyFileW(dir_.win("source.txt").c_str(), busy.c_str(), FALSE));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(ReadHostFile(busyHost), "old");

    child.Kill();  // the lock dies with its holder
    EXPECT_TRUE(DeleteFileW(busy.c_str()));
}

TEST_F(Files, OpenAlwaysTellsAnExistingFile) {
    WriteHostFile(dir_.host("existing.bin"), "e");
    HANDLE opened = CreateFileW(dir_.win("existing.bin").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(opened, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(opened);
}

TEST_F(Files, CopyKeepsContentAndPermissionBits) {
    std::string big(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 7 + i / 4096);
    }
    WriteHostFile(dir_.host("big.bin"), big);
    ::chmod(dir_.host("big.bin").c_str(), 0750);
    WriteHostFile(dir_.host("target.bin"), "a much older and longer target content");

    ASSERT_TRUE(CopyFileW(dir_.win("big.bin").c_str(), dir_.win("target.bin").c_str(), FALSE));
    EXPECT_EQ(ReadHostFile(dir_.host("target.bin")), big);
    struct stat info {};
    ::stat(dir_.host("target.bin").c_str(), &info);
    EXPECT_EQ(info.st_mode & 07777, 0750u);
}

TEST_F(Files, CopyOntoItselfIsRefusedAndKeepsTheData) {
    WriteHostFile(dir_.host("a.txt"), "precious");
    EXPECT_FALSE(CopyFileW(dir_.win("a.txt").c_str(), dir_.win("a.txt").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(ReadHostFile(dir_.host("a.txt")), "precious");
}

TEST_F(Files, FailedCopyRemovesTheTargetItCreatedButNotAnOldOne) {
    WriteHostFile(dir_.host("src.bin"), std::string(100000, 'x'));
    qx::InjectFault(qx::Sys::Copy, 1, ENOSPC);
    EXPECT_FALSE(CopyFileW(dir_.win("src.bin").c_str(), dir_.win("new.bin").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    EXPECT_EQ(GetFileAttributesW(dir_.win("new.bin").c_str()), INVALID_FILE_ATTRIBUTES);

    WriteHostFile(dir_.host("old.bin"), "old");
    qx::InjectFault(qx::Sys::Copy, 1, ENOSPC);
    EXPECT_FALSE(CopyFileW(dir_.win("src.bin").c_str(), dir_.win("old.bin").c_str(), FALSE));
    EXPECT_NE(GetFileAttributesW(dir_.win("old.bin").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Files, CopyFallsBackToReadAndWriteWhenTheKernelCannotCopy) {
    qx::Syscalls().copy = [](int, int, size_t) -> ssize_t {
        errno = EXDEV;
        return -1;
    };
    WriteHostFile(dir_.host("src.bin"), std::string(2500000, 'q') + "end");
    ASSERT_TRUE(CopyFileW(dir_.win("src.bin").c_str(), dir_.win("dst.bin").c_str(), FALSE));
    EXPECT_EQ(ReadHostFile(dir_.host("dst.bin")), ReadHostFile(dir_.host("src.bin")));
}

// A link goes by itself, through DeleteFileW or RemoveDirectoryW, never with what it points to; a
// read-only folder stays, even for root. (Plain files and folders: tests/unit/winapi.)
TEST_F(Files, LinksGoWithoutTheirTargetsAndReadOnlyFoldersStay) {
    WriteHostFile(dir_.host("target/keep.txt"), "keep");
    ::symlink(dir_.host("target").c_str(), dir_.host("link").c_str());
    ::symlink(dir_.host("target").c_str(), dir_.host("folder-link").c_str());
    ::mkdir(dir_.host("readonly").c_str(), 0555);

    EXPECT_TRUE(DeleteFileW(dir_.win("link").c_str()));
    EXPECT_TRUE(RemoveDirectoryW(dir_.win("folder-link").c_str()));
    EXPECT_FALSE(RemoveDirectoryW(dir_.win("readonly").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(qxtest::SnapshotTree(dir_.host()),
              (std::map<std::string, std::string>{
                  {"readonly/", ""}, {"target/", ""}, {"target/keep.txt", "keep"}}));
}

}  // namespace
