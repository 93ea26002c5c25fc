// The layer's flushes: FlushFileBuffers on file, folder and volume handles and
// MOVEFILE_WRITE_THROUGH reach fsync and syncfs of exactly what they name, nothing else in the
// layer ever flushes, and both calls can be failed from the fault table like the others.
#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/posix/syscalls.h"
#include "platform/win32.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

using qxtest::WriteHostFile;

// Every flush the layer makes, as "fsync <host path>" or "syncfs <host path>".
std::vector<std::string> g_flushes;

std::string PathOfFd(int fd) {
    char path[PATH_MAX] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(link.c_str(), path, sizeof(path) - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : "?";
}

class Flushes : public ::testing::Test {
  protected:
    void SetUp() override {
        g_flushes.clear();
        qx::Syscalls().fsync = [](int fd) {
            g_flushes.push_back("fsync " + PathOfFd(fd));
            return 0;
        };
        qx::Syscalls().syncfs = [](int fd) {
            g_flushes.push_back("syncfs " + PathOfFd(fd));
            return 0;
        };
    }
    void TearDown() override {
        qx::ResetSyscalls();
        qx::ClearFaults();
    }

    // Flushes through a fresh handle; the last error when it fails, else ERROR_SUCCESS.
    DWORD Flush(const std::wstring& path, DWORD access, DWORD flags = FILE_ATTRIBUTE_NORMAL,
                DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE) {
        HANDLE handle =
            CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            return GetLastError();
        }
        const DWORD error = FlushFileBuffers(handle) ? ERROR_SUCCESS : GetLastError();
        CloseHandle(handle);
        return error;
    }
    std::string Real(const std::string& hostPath) const {
        char path[PATH_MAX] = {};
        return ::realpath(hostPath.c_str(), path) ? path : hostPath;
    }

    qxtest::TempDir dir_;
};

TEST_F(Flushes, EachHandleFlushesWhatItNamesAndNothingElseFlushesAtAll) {
    qxtest::ScopedEnv prefix("QXWEB_PREFIX", dir_.host("prefix"));
    WriteHostFile(dir_.host("folder/file.txt"), "data");
    WriteHostFile(dir_.host("other/x.txt"), "x");
    // What the program does with files all day flushes nothing.
    ASSERT_TRUE(
        CopyFileW(dir_.win("folder/file.txt").c_str(), dir_.win("copy.txt").c_str(), FALSE));
    ASSERT_TRUE(MoveFileExW(dir_.win("copy.txt").c_str(), dir_.win("moved.txt").c_str(),
                            MOVEFILE_REPLACE_EXISTING));
    ASSERT_TRUE(DeleteFileW(dir_.win("moved.txt").c_str()));
    FILE* stream = _wfopen(dir_.win("stream.txt").c_str(), L"wb");
    ASSERT_NE(stream, nullptr);
    fputs("line\n", stream);
    fclose(stream);
    EXPECT_EQ(g_flushes, std::vector<std::string>{});

    EXPECT_EQ(Flush(dir_.win("folder/file.txt"), GENERIC_WRITE), ERROR_SUCCESS);
    EXPECT_EQ(Flush(dir_.win("folder"), GENERIC_WRITE, FILE_FLAG_BACKUP_SEMANTICS), ERROR_SUCCESS);
    EXPECT_EQ(Flush(L"\\\\.\\Z:", GENERIC_READ | GENERIC_WRITE), ERROR_SUCCESS);
    EXPECT_EQ(Flush(L"\\\\.\\c:", GENERIC_READ | GENERIC_WRITE), ERROR_SUCCESS);
    // A write-through move flushes the folder it left and the one it entered, once when the same.
    ASSERT_TRUE(MoveFileExW(dir_.win("folder/file.txt").c_str(), dir_.win("other/file.txt").c_str(),
                            MOVEFILE_WRITE_THROUGH));
    ASSERT_TRUE(MoveFileExW(dir_.win("other/file.txt").c_str(), dir_.win("other/x.txt").c_str(),
                            MOVEFILE_WRITE_THROUGH | MOVEFILE_REPLACE_EXISTING));
    const std::string root = Real(dir_.host());
    EXPECT_EQ(g_flushes, (std::vector<std::string>{
                             "fsync " + root + "/folder/file.txt",
                             "fsync " + root + "/folder",
                             "syncfs /",
                             "syncfs " + Real(dir_.host("prefix/drive_c")),
                             "fsync " + root + "/folder",
                             "fsync " + root + "/other",
                             "fsync " + root + "/other",
                         }));
}

// Refusals beyond the ones real Windows shows too (tests/unit/winapi), and flushes the fault table
// fails (an fsync counted on the path of what it flushes): each reports its error, none flushes.
TEST_F(Flushes, RefusedAndFailedFlushesFlushNothing) {
    WriteHostFile(dir_.host("folder/file.txt"), "data");
    struct Case {
        const char* what;
        std::wstring path;
        DWORD access;
        DWORD flags;
        DWORD share;
        const char* faults;
        DWORD error;
    };
    const DWORD shared = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const DWORD rw = GENERIC_READ | GENERIC_WRITE;
    const Case cases[] = {
        {"a folder opened for reading", dir_.win("folder"), GENERIC_READ,
         FILE_FLAG_BACKUP_SEMANTICS, shared, "", ERROR_ACCESS_DENIED},
        {"a volume not shared for writing", L"\\\\.\\Z:", rw, 0, FILE_SHARE_READ, "",
         ERROR_SHARING_VIOLATION},
        {"a drive that does not exist", L"\\\\.\\Q:", rw, 0, shared, "", ERROR_FILE_NOT_FOUND},
        {"a file whose fsync fails", dir_.win("folder/file.txt"), GENERIC_WRITE, 0, shared,
         "fsync:1:EIO:folder", ERROR_GEN_FAILURE},
        {"a volume whose syncfs fails", L"\\\\.\\Z:", rw, 0, shared, "syncfs:1:ENOSPC",
         ERROR_DISK_FULL},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.what);
        ASSERT_TRUE(qx::InjectFaults(item.faults));
        const DWORD error = Flush(item.path, item.access, item.flags, item.share);
        qx::ClearFaults();
        EXPECT_EQ(error, item.error);
    }
    EXPECT_FALSE(FlushFileBuffers(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(g_flushes, std::vector<std::string>{});
}

// A write-through move that cannot flush reports the failure, though the rename itself happened.
TEST_F(Flushes, AWriteThroughMoveThatCannotFlushFailsAfterTheRename) {
    WriteHostFile(dir_.host("folder/file.txt"), "data");
    qx::InjectFault(qx::Sys::Fsync, 1, EIO);
    EXPECT_FALSE(MoveFileExW(dir_.win("folder/file.txt").c_str(), dir_.win("file.txt").c_str(),
                             MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_EQ(qxtest::ReadHostFile(dir_.host("file.txt")), "data");
}

}  // namespace
