// Reading and writing through a file handle, folders made with CreateDirectoryW and the room on a
// volume, as real Win32 answers them; the archive reader reads and writes through these calls.
#include <string>

#include "winapi_fixture.h"

namespace {

using qxtest::Handle;

class FileIo : public qxtest::Win32Folder {
  protected:
    HANDLE Open(const std::string& relative, DWORD access, DWORD disposition) {
        return CreateFileW(Win(relative).c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    static LONGLONG Seek(HANDLE file, LONGLONG distance, DWORD method) {
        LARGE_INTEGER move;
        move.QuadPart = distance;
        LARGE_INTEGER now;
        now.QuadPart = -1;
        return SetFilePointerEx(file, move, &now, method) ? now.QuadPart : -1;
    }
    static std::string ReadSome(HANDLE file, DWORD size) {
        std::string data(size, '\0');
        DWORD got = 99;
        EXPECT_TRUE(ReadFile(file, &data[0], size, &got, nullptr));
        data.resize(got);
        return data;
    }
};

TEST_F(FileIo, WriteThenSeekAndReadBackWithTheEndReadAsNothing) {
    Handle file(Open("data.bin", GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS));
    ASSERT_TRUE(file.Valid());
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.Get(), "0123456789", 10, &written, nullptr));
    EXPECT_EQ(written, 10u);

    EXPECT_EQ(Seek(file.Get(), 0, FILE_END), 10);
    EXPECT_EQ(ReadSome(file.Get(), 4), "");
    EXPECT_EQ(Seek(file.Get(), 2, FILE_BEGIN), 2);
    EXPECT_EQ(ReadSome(file.Get(), 3), "234");
    EXPECT_EQ(Seek(file.Get(), -4, FILE_CURRENT), 1);
    EXPECT_EQ(ReadSome(file.Get(), 100), "123456789");

    EXPECT_EQ(Seek(file.Get(), -1, FILE_BEGIN), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    file.Close();
    EXPECT_EQ(Read("data.bin"), "0123456789");
}

TEST_F(FileIo, AHandleOnlyReadsOrWritesWhatItWasOpenedFor) {
    Write("data.bin", "data");
    Handle reading(Open("data.bin", GENERIC_READ, OPEN_EXISTING));
    ASSERT_TRUE(reading.Valid());
    DWORD count = 0;
    EXPECT_FALSE(WriteFile(reading.Get(), "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    Handle writing(Open("new.bin", GENERIC_WRITE, CREATE_NEW));
    ASSERT_TRUE(writing.Valid());
    char byte = 0;
    EXPECT_FALSE(ReadFile(writing.Get(), &byte, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(FileIo, CreateDirectoryMakesOneFolderOfAnyName) {
    EXPECT_TRUE(CreateDirectoryW(Win("客户端 한글").c_str(), nullptr));
    EXPECT_TRUE(CreateDirectoryW(Win("客户端 한글/下一层\\").c_str(), nullptr));
    EXPECT_EQ(GetFileAttributesW(Win("客户端 한글/下一层").c_str()),
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));

    Write("file", "x");
    const struct {
        const char* path;
        DWORD error;
    } refusals[] = {{"客户端 한글", ERROR_ALREADY_EXISTS},
                    {"file", ERROR_ALREADY_EXISTS},
                    {"missing/child", ERROR_PATH_NOT_FOUND}};
    for (const auto& refusal : refusals) {
        EXPECT_FALSE(CreateDirectoryW(Win(refusal.path).c_str(), nullptr)) << refusal.path;
        EXPECT_EQ(GetLastError(), refusal.error) << refusal.path;
    }
}

TEST_F(FileIo, TheRoomOnTheVolumeOfAFolder) {
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
