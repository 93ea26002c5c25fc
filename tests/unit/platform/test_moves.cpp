// MoveFileExW where only the layer can be checked: files locked by another process (the layer's
// "in use"), faults of the rename call from the fault table, hard links, and a folder that
// Windows does not let replace a file (Wine does).
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>

#include "layer_test_util.h"
#include "platform/posix/syscalls.h"
#include "platform/win32.h"
#include "support/temp_dir.h"

namespace {

using qxtest::ReadHostFile;
using qxtest::WriteHostFile;

class Moves : public ::testing::Test {
  protected:
    void TearDown() override { qx::ClearFaults(); }
    BOOL Move(const std::string& from, const std::string& to, DWORD flags = 0) {
        return MoveFileExW(dir_.win(from).c_str(), dir_.win(to).c_str(), flags);
    }
    qxtest::TempDir dir_;
};

TEST_F(Moves, FilesLockedByAnotherProcessPinTheirNamesAndTheirFolders) {
    WriteHostFile(dir_.host("tree/deep/busy.dll"), "busy");
    WriteHostFile(dir_.host("free/file.txt"), "free");
    WriteHostFile(dir_.host("source.txt"), "s");
    const std::string busy = dir_.host("tree/deep/busy.dll");
    qxtest::ChildHolding child([&] { return qxtest::LockInChild(busy.c_str()); });
    ASSERT_TRUE(child.ok());

    EXPECT_FALSE(Move("tree/deep/busy.dll", "moved.dll"));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(Move("source.txt", "tree/deep/busy.dll", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(Move("tree", "moved"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    // A lock elsewhere on the same device does not hold a folder without locked files.
    EXPECT_TRUE(Move("free", "freed"));

    child.Kill();
    EXPECT_TRUE(Move("tree", "moved"));
    EXPECT_EQ(ReadHostFile(dir_.host("moved/deep/busy.dll")), "busy");
}

TEST_F(Moves, TheFaultTableReachesTheRenameThroughEitherPath) {
    for (const char* name : {"a", "b", "c", "d"}) {
        WriteHostFile(dir_.host(name), name);
    }
    ASSERT_TRUE(qx::InjectFaults("rename:1:EXDEV,rename:2:ENOSPC:Documents"));

    EXPECT_FALSE(Move("a", "elsewhere"));  // another device: the caller must copy
    EXPECT_EQ(GetLastError(), ERROR_NOT_SAME_DEVICE);
    EXPECT_TRUE(Move("b", "Documents-b"));  // the first rename into "Documents" passes
    EXPECT_TRUE(Move("c", "c2"));           // not into "Documents": not counted
    EXPECT_FALSE(Move("d", "Documents-d"));
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    qx::InjectFault(qx::Sys::Rename, 1, EACCES, "Documents-b");
    EXPECT_FALSE(Move("Documents-b", "b"));  // matched through the source
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    EXPECT_EQ(qxtest::SnapshotTree(dir_.host()),
              (std::map<std::string, std::string>{
                  {"Documents-b", "b"}, {"a", "a"}, {"c2", "c"}, {"d", "d"}}));
}

TEST_F(Moves, HardLinksMoveLikeTwoNamesAndAFolderNeverReplacesAFile) {
    WriteHostFile(dir_.host("one"), "file");
    ASSERT_EQ(::link(dir_.host("one").c_str(), dir_.host("two").c_str()), 0);
    WriteHostFile(dir_.host("folder/inside.txt"), "in");
    WriteHostFile(dir_.host("plain.txt"), "plain");

    EXPECT_FALSE(Move("one", "two"));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(Move("one", "two", MOVEFILE_REPLACE_EXISTING));  // rename(2) would keep "one"
    EXPECT_FALSE(Move("folder", "plain.txt", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    EXPECT_EQ(qxtest::SnapshotTree(dir_.host()),
              (std::map<std::string, std::string>{{"folder/", ""},
                                                  {"folder/inside.txt", "in"},
                                                  {"plain.txt", "plain"},
                                                  {"two", "file"}}));
}

}  // namespace
