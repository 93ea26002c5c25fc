// MoveFileExW as real Win32 answers it: files and whole folders renamed in one step, existing
// targets kept or replaced (with or without write-through), read-only files and files in use,
// missing names. The same expectations hold for our Linux layer and for Windows (run under Wine).
#include <map>
#include <string>

#include "support/host_system.h"
#include "winapi_fixture.h"

namespace {

using qxtest::Handle;

class MoveCalls : public qxtest::Win32Folder {
  protected:
    BOOL Move(const std::string& from, const std::string& to, DWORD flags) {
        return MoveFileExW(Win(from).c_str(), Win(to).c_str(), flags);
    }
    HANDLE OpenUnshared(const std::string& relative) {
        return CreateFileW(Win(relative).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    std::map<std::string, std::string> Tree() const { return qxtest::SnapshotTree(dir_.host()); }
};

TEST_F(MoveCalls, RenamesFilesAndFoldersAndReplacesOnlyFilesWhenAsked) {
    Write("file.txt", "new");
    Write("old.txt", "old");
    Write("patch/sub/deep.txt", "deep");
    MakeFolder("patch/empty");
    MakeFolder("folder");
    MakeFolder("other");

    // Write-through moves like any other move (it only flushes besides).
    EXPECT_TRUE(Move("patch", "folder/patch", MOVEFILE_WRITE_THROUGH));
    EXPECT_TRUE(Move("old.txt", "old.txt", 0));  // onto its own name: nothing changes
    for (const char* target : {"old.txt", "other"}) {
        EXPECT_FALSE(Move("file.txt", target, 0)) << target;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << target;
        EXPECT_FALSE(Move("folder/patch", target, 0)) << target;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << target;
    }
    // Replacing is for files: a folder is never replaced.
    EXPECT_FALSE(Move("file.txt", "folder/patch/empty", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(Move("folder/patch/sub", "folder/patch/empty", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(Move("file.txt", "old.txt", MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));

    EXPECT_EQ(Tree(), (std::map<std::string, std::string>{{"folder/", ""},
                                                          {"folder/patch/", ""},
                                                          {"folder/patch/empty/", ""},
                                                          {"folder/patch/sub/", ""},
                                                          {"folder/patch/sub/deep.txt", "deep"},
                                                          {"old.txt", "new"},
                                                          {"other/", ""}}));
}

TEST_F(MoveCalls, AReadOnlyFileMovesWithItsAttribute) {
    Write("只读.txt", "ro");
    SetReadOnly("只读.txt", true);
    Write("plain.txt", "plain");

    EXPECT_TRUE(Move("只读.txt", "moved.txt", 0));
    EXPECT_TRUE(Move("moved.txt", "plain.txt", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetFileAttributesW(Win("plain.txt").c_str()),
              static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(Read("plain.txt"), "ro");
    SetReadOnly("plain.txt", false);
}

TEST_F(MoveCalls, AReadOnlyTargetIsNotReplaced) {
    if (const char* gap = qxtest::ReadOnlyFileReplacedByMove()) {
        GTEST_SKIP() << gap;
    }
    Write("source.txt", "s");
    Write("locked.txt", "kept");
    SetReadOnly("locked.txt", true);

    EXPECT_FALSE(Move("source.txt", "locked.txt", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Read("locked.txt"), "kept");
    EXPECT_EQ(Read("source.txt"), "s");
    SetReadOnly("locked.txt", false);
}

TEST_F(MoveCalls, AMissingSourceOrFolderIsNamedInTheError) {
    Write("source.txt", "s");

    EXPECT_FALSE(Move("missing.txt", "target.txt", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(Move("no/source.txt", "target.txt", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(Move("source.txt", "no/target.txt", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(Read("source.txt"), "s");
}

TEST_F(MoveCalls, AFileOpenWithoutSharingIsNeitherMovedNorReplaced) {
    Write("busy.txt", "busy");
    Write("source.txt", "s");
    Handle held(OpenUnshared("busy.txt"));
    ASSERT_TRUE(held.Valid());

    EXPECT_FALSE(Move("busy.txt", "moved.txt", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(Move("source.txt", "busy.txt", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Read("source.txt"), "s");

    held.Close();
    EXPECT_TRUE(Move("source.txt", "busy.txt", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(Read("busy.txt"), "s");
}

TEST_F(MoveCalls, AFolderWithAFileInUseBelowItStays) {
    if (const char* gap = qxtest::FolderWithOpenFileMovable()) {
        GTEST_SKIP() << gap;
    }
    Write("folder/deep/busy.txt", "busy");
    Handle held(OpenUnshared("folder/deep/busy.txt"));
    ASSERT_TRUE(held.Valid());

    EXPECT_FALSE(Move("folder", "moved", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    held.Close();
    EXPECT_TRUE(Move("folder", "moved", 0));
    EXPECT_EQ(Read("moved/deep/busy.txt"), "busy");
}

}  // namespace
