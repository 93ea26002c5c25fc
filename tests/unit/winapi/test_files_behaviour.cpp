// The file calls the program relies on, as real Win32 answers them: attributes, copying,
// deleting, removing folders, files in use. The same expectations hold for our Linux
// layer and for Windows (run under Wine), so the two cannot drift apart unnoticed.
#include <map>
#include <string>

#include "support/host_system.h"
#include "winapi_fixture.h"

namespace {

using qxtest::Handle;

class FileCalls : public qxtest::Win32Folder {
  protected:
    DWORD Attributes(const std::string& relative) const {
        return GetFileAttributesW(Win(relative).c_str());
    }
    HANDLE Open(const std::string& relative, DWORD access, DWORD share, DWORD disposition) {
        return CreateFileW(Win(relative).c_str(), access, share, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
};

TEST_F(FileCalls, AttributesOfFilesAndFolders) {
    Write("file.txt", "x");
    Write("readonly.txt", "x");
    SetReadOnly("readonly.txt", true);
    // Wine shows names that start with "." as hidden; the layer does the same.
    Write(".dotfile", "x");
    MakeFolder("folder/sub");

    const std::map<std::string, DWORD> actual = {
        {"file.txt", Attributes("file.txt")}, {"readonly.txt", Attributes("readonly.txt")},
        {".dotfile", Attributes(".dotfile")}, {"folder", Attributes("folder")},
        {"folder/", Attributes("folder/")},   {"folder/sub", Attributes("folder/sub")},
    };
    const std::map<std::string, DWORD> expected = {
        {"file.txt", FILE_ATTRIBUTE_ARCHIVE},
        {"readonly.txt", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY},
        {".dotfile", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN},
        {"folder", FILE_ATTRIBUTE_DIRECTORY},
        {"folder/", FILE_ATTRIBUTE_DIRECTORY},
        {"folder/sub", FILE_ATTRIBUTE_DIRECTORY},
    };
    EXPECT_EQ(actual, expected);
    SetReadOnly("readonly.txt", false);
}

TEST_F(FileCalls, AMissingFileAndAMissingFolderAreDifferentErrors) {
    EXPECT_EQ(Attributes("nothing"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Attributes("no/thing"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(FileCalls, CopyFileCopiesTheBytesAndTheReadOnlyAttribute) {
    std::string binary(1 << 20, '\0');
    for (size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>(i * 7 + i / 251);
    Write("big.bin", binary);
    Write("empty", "");
    Write("中文 名.txt", "文字");
    Write("readonly.txt", "ro");
    SetReadOnly("readonly.txt", true);

    EXPECT_TRUE(CopyFileW(Win("big.bin").c_str(), Win("big.copy").c_str(), TRUE));
    EXPECT_TRUE(CopyFileW(Win("empty").c_str(), Win("empty.copy").c_str(), TRUE));
    EXPECT_TRUE(CopyFileW(Win("中文 名.txt").c_str(), Win("副本.txt").c_str(), TRUE));
    EXPECT_TRUE(CopyFileW(Win("readonly.txt").c_str(), Win("readonly.copy").c_str(), TRUE));

    EXPECT_EQ(Read("big.copy"), binary);
    EXPECT_EQ(Read("empty.copy"), "");
    EXPECT_EQ(Read("副本.txt"), "文字");
    EXPECT_EQ(Read("readonly.copy"), "ro");
    EXPECT_EQ(Attributes("readonly.copy"), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
    SetReadOnly("readonly.txt", false);
    SetReadOnly("readonly.copy", false);
}

TEST_F(FileCalls, CopyFileReplacesATargetOnlyWhenAllowed) {
    Write("new.txt", "new");
    Write("old.txt", "a longer old content");

    EXPECT_FALSE(CopyFileW(Win("new.txt").c_str(), Win("old.txt").c_str(), TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(Read("old.txt"), "a longer old content");

    EXPECT_TRUE(CopyFileW(Win("new.txt").c_str(), Win("old.txt").c_str(), FALSE));
    EXPECT_EQ(Read("old.txt"), "new");
}

TEST_F(FileCalls, CopyFileRefusals) {
    Write("source.txt", "s");
    MakeFolder("folder");

    EXPECT_FALSE(CopyFileW(Win("missing").c_str(), Win("target").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(CopyFileW(Win("source.txt").c_str(), Win("no/target").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(CopyFileW(Win("folder").c_str(), Win("target").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Attributes("target"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FileCalls, AReadOnlyFileIsNeitherReplacedNorOpenedForWriting) {
    if (const char* gap = qxtest::ReadOnlyFileWritable())
        GTEST_SKIP() << gap;
    Write("source.txt", "s");
    Write("locked.txt", "kept");
    SetReadOnly("locked.txt", true);

    EXPECT_FALSE(CopyFileW(Win("source.txt").c_str(), Win("locked.txt").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    Handle writable(Open("locked.txt", GENERIC_WRITE, 0, OPEN_EXISTING));
    EXPECT_FALSE(writable.Valid());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    Handle readable(Open("locked.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    EXPECT_TRUE(readable.Valid());
    readable.Close();
    EXPECT_EQ(Read("locked.txt"), "kept");
    SetReadOnly("locked.txt", false);
}

TEST_F(FileCalls, DeleteFileRemovesPlainFilesOnly) {
    Write("plain.txt", "p");
    Write("locked.txt", "l");
    SetReadOnly("locked.txt", true);
    MakeFolder("folder");

    EXPECT_TRUE(DeleteFileW(Win("plain.txt").c_str()));
    EXPECT_EQ(Attributes("plain.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(DeleteFileW(Win("locked.txt").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Read("locked.txt"), "l");
    EXPECT_FALSE(DeleteFileW(Win("folder").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Attributes("folder"), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(DeleteFileW(Win("missing").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    SetReadOnly("locked.txt", false);
}

// Clearing the read-only attribute is what lets the program empty its own temporary folder.
TEST_F(FileCalls, SetFileAttributesTurnsReadOnlyOnAndOff) {
    if (const char* gap = qxtest::ReadOnlyFileWritable())
        GTEST_SKIP() << gap;
    Write("file.txt", "f");

    EXPECT_TRUE(SetFileAttributesW(Win("file.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(Attributes("file.txt"), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(DeleteFileW(Win("file.txt").c_str()));

    EXPECT_TRUE(SetFileAttributesW(Win("file.txt").c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(Attributes("file.txt") & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_TRUE(DeleteFileW(Win("file.txt").c_str()));
    EXPECT_FALSE(SetFileAttributesW(Win("file.txt").c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FileCalls, RemoveDirectoryRemovesEmptyFoldersOnly) {
    MakeFolder("empty");
    MakeFolder("full/child");
    Write("file.txt", "f");

    EXPECT_TRUE(RemoveDirectoryW(Win("empty").c_str()));
    EXPECT_EQ(Attributes("empty"), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(RemoveDirectoryW(Win("full").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    EXPECT_EQ(Attributes("full/child"), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(RemoveDirectoryW(Win("file.txt").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
    EXPECT_FALSE(RemoveDirectoryW(Win("missing").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FileCalls, AFileOpenWithoutSharingCannotBeOpenedReplacedOrDeleted) {
    Write("busy.txt", "busy");
    Write("source.txt", "s");
    Handle held(Open("busy.txt", GENERIC_READ, 0, OPEN_EXISTING));
    ASSERT_TRUE(held.Valid());

    Handle second(Open("busy.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    EXPECT_FALSE(second.Valid());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(CopyFileW(Win("source.txt").c_str(), Win("busy.txt").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // Windows says ERROR_SHARING_VIOLATION here, the layer ERROR_ACCESS_DENIED; the program only
    // needs the refusal.
    EXPECT_FALSE(DeleteFileW(Win("busy.txt").c_str()));
    EXPECT_NE(Attributes("busy.txt"), INVALID_FILE_ATTRIBUTES);

    held.Close();
    EXPECT_TRUE(CopyFileW(Win("source.txt").c_str(), Win("busy.txt").c_str(), FALSE));
    EXPECT_TRUE(DeleteFileW(Win("busy.txt").c_str()));
}

TEST_F(FileCalls, AFailedReplaceKeepsTheContentOfAFileInUse) {
    if (const char* gap = qxtest::FileInUseEmptiedByFailedReplace())
        GTEST_SKIP() << gap;
    Write("busy.txt", "busy");
    Write("source.txt", "s");
    Handle held(Open("busy.txt", GENERIC_READ, 0, OPEN_EXISTING));
    ASSERT_TRUE(held.Valid());

    EXPECT_FALSE(CopyFileW(Win("source.txt").c_str(), Win("busy.txt").c_str(), FALSE));
    Handle replaced(Open("busy.txt", GENERIC_WRITE, 0, CREATE_ALWAYS));
    EXPECT_FALSE(replaced.Valid());
    EXPECT_FALSE(DeleteFileW(Win("busy.txt").c_str()));
    held.Close();
    EXPECT_EQ(Read("busy.txt"), "busy");
}

TEST_F(FileCalls, CreateFileDispositionsAndRefusals) {
    Write("existing.txt", "e");

    Handle missing(Open("missing.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    EXPECT_FALSE(missing.Valid());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    Handle exists(Open("existing.txt", GENERIC_WRITE, 0, CREATE_NEW));
    EXPECT_FALSE(exists.Valid());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(Read("existing.txt"), "e");

    Handle created(Open("new.txt", GENERIC_WRITE, 0, CREATE_ALWAYS));
    EXPECT_TRUE(created.Valid());
    created.Close();
    EXPECT_EQ(Attributes("new.txt"), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(Read("new.txt"), "");
    Handle truncated(Open("existing.txt", GENERIC_WRITE, 0, CREATE_ALWAYS));
    EXPECT_TRUE(truncated.Valid());
    truncated.Close();
    EXPECT_EQ(Read("existing.txt"), "");
}

}  // namespace
