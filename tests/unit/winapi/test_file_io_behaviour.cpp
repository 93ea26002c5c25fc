// Reading and writing through a file handle as real Win32 answers it: WriteFile, ReadFile,
// SetFilePointerEx and SetEndOfFile, and what a handle opened for the other access refuses;
// folders made with CreateDirectoryW and _wmkdir, and the room on a volume. The same expectations
// hold for our Linux layer and for Windows (run under Wine).
#include <cerrno>
#include <string>

#include "winapi_fixture.h"

namespace {

using qxtest::Handle;

class FileIoCalls : public qxtest::Win32Folder {
  protected:
    HANDLE Open(const std::string& relative, DWORD access, DWORD disposition) {
        return CreateFileW(Win(relative).c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    static bool Seek(HANDLE handle, int64_t distance, DWORD method, int64_t* at = nullptr) {
        LARGE_INTEGER move;
        move.QuadPart = distance;
        LARGE_INTEGER now;
        now.QuadPart = -1;
        const bool moved = SetFilePointerEx(handle, move, &now, method) != FALSE;
        if (at != nullptr) {
            *at = now.QuadPart;
        }
        return moved;
    }
    static std::string ReadAll(HANDLE handle) {
        std::string text;
        char buffer[4];
        DWORD got = 0;
        while (ReadFile(handle, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
            text.append(buffer, got);
        }
        return text;
    }
};

TEST_F(FileIoCalls, AFileIsWrittenReadAndCutThroughItsHandle) {
    Handle file(Open("file.txt", GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS));
    ASSERT_TRUE(file.Valid());
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.Get(), "first line\nsecond", 17, &written, nullptr));
    EXPECT_EQ(written, 17u);

    int64_t at = 0;
    ASSERT_TRUE(Seek(file.Get(), 0, FILE_BEGIN));
    EXPECT_EQ(ReadAll(file.Get()), "first line\nsecond");
    ASSERT_TRUE(Seek(file.Get(), -6, FILE_END, &at));
    EXPECT_EQ(at, 11);
    ASSERT_TRUE(WriteFile(file.Get(), "2nd\n", 4, &written, nullptr));
    ASSERT_TRUE(SetEndOfFile(file.Get()));
    ASSERT_TRUE(Seek(file.Get(), 0, FILE_CURRENT, &at));
    EXPECT_EQ(at, 15);
    EXPECT_FALSE(Seek(file.Get(), -16, FILE_CURRENT));
    file.Close();
    EXPECT_EQ(Read("file.txt"), "first line\n2nd\n");

    // Refused without the access (the error differs: Wine names some an invalid handle or
    // parameter where Windows denies access).
    Handle reading(Open("file.txt", GENERIC_READ, OPEN_EXISTING));
    EXPECT_FALSE(WriteFile(reading.Get(), "x", 1, &written, nullptr));
    EXPECT_FALSE(SetEndOfFile(reading.Get()));
    Handle writing(Open("file.txt", GENERIC_WRITE, OPEN_EXISTING));
    char byte = 0;
    DWORD got = 0;
    EXPECT_FALSE(ReadFile(writing.Get(), &byte, 1, &got, nullptr));
    EXPECT_EQ(Read("file.txt"), "first line\n2nd\n");
}

// CreateDirectoryW and _wmkdir make one folder of any name; what is there already or has no
// parent is refused, with a Win32 error and an errno.
TEST_F(FileIoCalls, AFolderIsMadeOneLevelAtATime) {
    EXPECT_TRUE(CreateDirectoryW(Win("客户端 한글").c_str(), nullptr));
    EXPECT_TRUE(CreateDirectoryW(Win("客户端 한글/下一层\\").c_str(), nullptr));
    EXPECT_EQ(_wmkdir(Win("客户端 한글/下一层/三").c_str()), 0);
    EXPECT_EQ(GetFileAttributesW(Win("客户端 한글/下一层/三").c_str()),
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));

    Write("file", "x");
    const struct {
        const char* path;
        DWORD error;
        int errnoValue;
    } refusals[] = {{"客户端 한글", ERROR_ALREADY_EXISTS, EEXIST},
                    {"file", ERROR_ALREADY_EXISTS, EEXIST},
                    {"missing/child", ERROR_PATH_NOT_FOUND, ENOENT}};
    for (const auto& refusal : refusals) {
        EXPECT_FALSE(CreateDirectoryW(Win(refusal.path).c_str(), nullptr)) << refusal.path;
        EXPECT_EQ(GetLastError(), refusal.error) << refusal.path;
        errno = 0;
        EXPECT_EQ(_wmkdir(Win(refusal.path).c_str()), -1) << refusal.path;
        EXPECT_EQ(errno, refusal.errnoValue) << refusal.path;
    }
}

TEST_F(FileIoCalls, TheRoomOnTheVolumeOfAFolder) {
    ULARGE_INTEGER available{};
    ULARGE_INTEGER total{};
    ULARGE_INTEGER free{};
    ASSERT_TRUE(GetDiskFreeSpaceExW(dir_.win().c_str(), &available, &total, &free));
    EXPECT_GT(available.QuadPart, 0u);
    EXPECT_LE(available.QuadPart, free.QuadPart);
    EXPECT_LE(free.QuadPart, total.QuadPart);
    EXPECT_TRUE(GetDiskFreeSpaceExW(dir_.win().c_str(), &available, nullptr, nullptr));

    EXPECT_FALSE(GetDiskFreeSpaceExW(Win("missing/folder").c_str(), &available, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

}  // namespace
