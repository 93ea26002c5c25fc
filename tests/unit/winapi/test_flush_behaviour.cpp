// Flushing as real Win32 answers it: FlushFileBuffers on a file, on a folder opened with
// FILE_FLAG_BACKUP_SEMANTICS and on the volume of the test folder's drive ("\\.\C:", which needs
// the administrator rights the tool runs with); a write-through move: test_move_behaviour. The same
// expectations hold for our Linux layer and for Windows (run under Wine), but for the volume: Wine
// opens it and refuses to flush it, so the program flushes file by file there.
#include <string>

#include "support/host_system.h"
#include "winapi_fixture.h"

namespace {

using qxtest::Handle;

class FlushCalls : public qxtest::Win32Folder {
  protected:
    HANDLE Open(const std::wstring& path, DWORD access, DWORD flags) {
        return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, flags, nullptr);
    }
    // The volume of the drive the test folder is on: "\\.\C:".
    std::wstring Volume() const { return L"\\\\.\\" + Win("").substr(0, 2); }
};

TEST_F(FlushCalls, FilesFoldersAndTheVolumeFlushWhenOpenedForWriting) {
    Write("folder/file.txt", "data");
    struct Case {
        const char* what;
        std::wstring path;
        DWORD access;
        DWORD flags;
        DWORD error;  // ERROR_SUCCESS when it flushes
    };
    const DWORD rw = GENERIC_READ | GENERIC_WRITE;
    const Case cases[] = {
        {"a file", Win("folder/file.txt"), GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL, ERROR_SUCCESS},
        {"a file opened for reading", Win("folder/file.txt"), GENERIC_READ, FILE_ATTRIBUTE_NORMAL,
         ERROR_ACCESS_DENIED},
        {"a folder", Win("folder"), GENERIC_WRITE, FILE_FLAG_BACKUP_SEMANTICS, ERROR_SUCCESS},
        {"the volume", Volume(), rw, 0,
         static_cast<DWORD>(qxtest::RunningUnderWine() ? ERROR_INVALID_FUNCTION : ERROR_SUCCESS)},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.what);
        Handle handle(Open(item.path, item.access, item.flags));
        ASSERT_TRUE(handle.Valid()) << GetLastError();
        const bool flushed = FlushFileBuffers(handle.Get()) != FALSE;
        EXPECT_EQ(flushed ? static_cast<DWORD>(ERROR_SUCCESS) : GetLastError(), item.error);
    }
    EXPECT_EQ(Read("folder/file.txt"), "data");

    // A folder opens only with backup semantics.
    Handle folder(Open(Win("folder"), GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL));
    EXPECT_FALSE(folder.Valid());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

}  // namespace
