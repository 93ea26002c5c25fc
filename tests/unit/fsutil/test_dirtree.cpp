// Folder operations on a real temporary folder: what exists, creating chains, deleting and
// recreating trees. Each case builds a folder, runs the operation and compares the tree whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "fsutil/dirtree.h"
#include "fsutil/file_failure.h"
#include "fsutil/paths.h"
#include "fsutil/text.h"
#include "support/host_system.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

using Tree = std::set<std::string>;

void WriteFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every entry under root, relative, folders with a trailing "/", links with a trailing "@";
// links are never followed.
Tree Snapshot(const fs::path& root) {
    Tree tree;
    if (!fs::exists(fs::symlink_status(root))) {
        return tree;
    }
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        std::string name = fs::relative(it->path(), root).generic_string();
        if (it->is_symlink()) {
            name += "@";
        } else if (it->is_directory()) {
            name += "/";
        }
        tree.insert(name);
    }
    return tree;
}

void MakeReadOnly(const fs::path& path) {
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}

void MakeWritable(const fs::path& path) {
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
}

class FolderTest : public testing::Test {
  protected:
    fs::path Host(const std::string& relative = "") const {
        return relative.empty() ? fs::path(dir_.host()) : fs::path(dir_.host()) / relative;
    }
    // The Windows form of a path below the temporary folder; relative uses "\".
    std::wstring Win(const std::wstring& relative = L"") const {
        return relative.empty() ? dir_.win() : JoinPath(dir_.win(), relative);
    }

    qxtest::TempDir dir_;
};

}  // namespace

TEST_F(FolderTest, ExistenceTestsTellPlainFoldersFromEverythingElse) {
    fs::create_directories(Host("plain"));
    fs::create_directories(Host(".hidden"));
    fs::create_directories(Host("locked"));
    MakeReadOnly(Host("locked"));
    WriteFile(Host("file.txt"), "x");

    struct Case {
        std::wstring path;
        bool exists;
        bool directory;     // a plain one
        bool anyDirectory;  // of any kind
    };
    std::vector<Case> cases = {
        {Win(L"plain"), true, true, true},
        {Win(L".hidden"), true, false, true},
        {Win(L"file.txt"), true, false, false},
        {Win(L"missing"), false, false, false},
        {L"", false, false, false},
    };
    if (qxtest::FolderReadOnlyIgnored() == nullptr)
        cases.push_back({Win(L"locked"), true, false, true});
    // Where the system makes no links (Wine), the other cases still hold.
    if (qxtest::MakeSymlink(Host("plain").string(), Host("link").string(), true))
        cases.push_back({Win(L"link"), true, false, true});
    for (const Case& c : cases) {
        EXPECT_EQ(PathExists(c.path), c.exists) << testing::PrintToString(c.path);
        EXPECT_EQ(IsDirectory(c.path), c.directory) << testing::PrintToString(c.path);
        EXPECT_EQ(IsAnyDirectory(c.path), c.anyDirectory) << testing::PrintToString(c.path);
    }
    MakeWritable(Host("locked"));
}

TEST_F(FolderTest, MakeDirTakesDriveRootsAndExistingFolders) {
    EXPECT_NE(MakeDir(L"D:"), 0);
    EXPECT_NE(MakeDir(L"D:\\"), 0);
    EXPECT_NE(MakeDir(L"d:/"), 0);
    EXPECT_NE(MakeDir(Win(L"new").c_str()), 0);
    EXPECT_NE(MakeDir(Win(L"new").c_str()), 0);
    EXPECT_EQ(MakeDir(L""), 0);
    EXPECT_EQ(MakeDir(Win(L"missing\\child").c_str()), 0);
    EXPECT_EQ(Snapshot(Host()), (Tree{"new/"}));
}

TEST_F(FolderTest, MakeDirTreeCreatesEveryMissingFolderOfTheChain) {
    EXPECT_TRUE(MakeDirTree(Win(L"x\\y\\z\\").c_str()));
    EXPECT_TRUE(MakeDirTree(Win(L"x\\y\\z\\").c_str()));
    EXPECT_TRUE(MakeDirTree(Win(L"x/y2//w").c_str()));
    EXPECT_TRUE(MakeDirTree(Win(L"中文\\目录").c_str()));
    EXPECT_EQ(Snapshot(Host()),
              (Tree{"x/", "x/y/", "x/y/z/", "x/y2/", "x/y2/w/", "中文/", "中文/目录/"}));
}

TEST_F(FolderTest, MakeDirTreeEdgeCases) {
    EXPECT_TRUE(MakeDirTree(L""));
    // A leading separator makes the first segment empty: nothing is created anywhere.
    EXPECT_FALSE(MakeDirTree(L"\\qx_logic_root_relative\\dir"));
    EXPECT_FALSE(fs::exists("/qx_logic_root_relative"));

    WriteFile(Host("file"), "content");
    EXPECT_FALSE(MakeDirTree(Win(L"file\\child").c_str()));
    EXPECT_EQ(Snapshot(Host()), (Tree{"file"}));
    EXPECT_EQ(ReadFile(Host("file")), "content");
}

TEST_F(FolderTest, MakeDirTreeRejectsPathsLongerThanItsBuffer) {
    // Fill the path up to exactly 259 characters with 50-character folder names.
    std::wstring path = Win();
    std::wstring relative;
    while (path.size() + 51 <= 259) {
        path += L"\\" + std::wstring(50, L'a');
        relative += (relative.empty() ? L"" : L"\\") + std::wstring(50, L'a');
    }
    path += L"\\" + std::wstring(259 - path.size() - 1, L'b');
    ASSERT_EQ(path.size(), 259u);
    EXPECT_TRUE(MakeDirTree(path.c_str()));
    EXPECT_TRUE(IsDirectory(path));

    const std::wstring tooLong = path + L"c";
    EXPECT_FALSE(MakeDirTree(tooLong.c_str()));
    EXPECT_FALSE(PathExists(tooLong));
    const std::wstring muchTooLong = Win(L"long\\" + std::wstring(2000, L'd'));
    EXPECT_FALSE(MakeDirTree(muchTooLong.c_str()));
    EXPECT_FALSE(PathExists(Win(L"long")));
}

TEST_F(FolderTest, DeleteDirTreeRemovesAWholeTree) {
    WriteFile(Host("tree/a.txt"), "a");
    WriteFile(Host("tree/.hidden"), "h");
    WriteFile(Host("tree/sub/deeper/b.bin"), std::string(1000, '\0'));
    WriteFile(Host("tree/中文/c"), "c");
    fs::create_directories(Host("tree/empty"));
    WriteFile(Host("keep/k"), "k");

    EXPECT_TRUE(DeleteDirTree(Win(L"tree").c_str()));
    EXPECT_EQ(Snapshot(Host()), (Tree{"keep/", "keep/k"}));
}

TEST_F(FolderTest, DeleteDirTreeFailsOnMissingPathsAndFiles) {
    WriteFile(Host("file"), "x");
    EXPECT_FALSE(DeleteDirTree(Win(L"missing").c_str()));
    EXPECT_FALSE(DeleteDirTree(Win(L"file").c_str()));
    EXPECT_EQ(Snapshot(Host()), (Tree{"file"}));
}

TEST_F(FolderTest, DeleteDirTreeStopsAtAReadOnlyFileAndKeepsItsAncestors) {
    WriteFile(Host("tree/sub/locked.txt"), "locked");
    WriteFile(Host("tree/sub/other.txt"), "o");
    WriteFile(Host("tree/top.txt"), "t");
    MakeReadOnly(Host("tree/sub/locked.txt"));

    FileFailure failure;
    EXPECT_FALSE(DeleteDirTree(Win(L"tree").c_str(), &failure));
    EXPECT_EQ(failure.call, L"DeleteFileW");
    EXPECT_EQ(failure.path, Win(L"tree\\sub\\locked.txt"));
    EXPECT_EQ(failure.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    const Tree left = Snapshot(Host());
    EXPECT_TRUE(left.count("tree/"));
    EXPECT_TRUE(left.count("tree/sub/"));
    EXPECT_TRUE(left.count("tree/sub/locked.txt"));
    EXPECT_EQ(ReadFile(Host("tree/sub/locked.txt")), "locked");
    MakeWritable(Host("tree/sub/locked.txt"));
}

TEST_F(FolderTest, DeleteDirTreeRemovesLinksButNeverWhatTheyPointTo) {
    WriteFile(Host("outside/dir/precious.txt"), "p");
    WriteFile(Host("outside/file.txt"), "f");
    WriteFile(Host("tree/own.txt"), "o");
    if (!qxtest::MakeSymlink(Host("outside/dir").string(), Host("tree/folder-link").string(),
                             true) ||
        !qxtest::MakeSymlink(Host("outside/file.txt").string(), Host("tree/file-link").string(),
                             false) ||
        !qxtest::MakeSymlink(Host("nowhere").string(), Host("tree/dangling-link").string(), false))
        GTEST_SKIP() << qxtest::NoSymlinkReason();
    const Tree outside = Snapshot(Host("outside"));

    EXPECT_TRUE(DeleteDirTree(Win(L"tree").c_str()));
    EXPECT_FALSE(fs::exists(fs::symlink_status(Host("tree"))));
    EXPECT_EQ(Snapshot(Host("outside")), outside);
    EXPECT_EQ(ReadFile(Host("outside/dir/precious.txt")), "p");
}

TEST_F(FolderTest, DeleteDirTreeOnALinkRemovesOnlyTheLink) {
    WriteFile(Host("target/precious.txt"), "p");
    if (!qxtest::MakeSymlink(Host("target").string(), Host("link").string(), true))
        GTEST_SKIP() << qxtest::NoSymlinkReason();

    EXPECT_TRUE(DeleteDirTree(Win(L"link").c_str()));
    EXPECT_EQ(Snapshot(Host()), (Tree{"target/", "target/precious.txt"}));
}

// The tool's own folder goes whole, read-only items included; what its links lead to keeps its
// content and its read-only attribute.
TEST_F(FolderTest, RemoveOwnItemClearsReadOnlyButNeverThroughALink) {
    WriteFile(Host("own/locked.txt"), "l");
    WriteFile(Host("own/sealed/inner.txt"), "i");
    WriteFile(Host("outside/dir/precious.txt"), "p");
    WriteFile(Host("outside/kept.txt"), "k");
    MakeReadOnly(Host("own/locked.txt"));
    MakeReadOnly(Host("own/sealed/inner.txt"));
    MakeReadOnly(Host("own/sealed"));
    MakeReadOnly(Host("outside/dir/precious.txt"));
    MakeReadOnly(Host("outside/kept.txt"));
    const bool linked =
        qxtest::MakeSymlink(Host("outside/dir").string(), Host("own/dir-link").string(), true) &&
        qxtest::MakeSymlink(Host("outside/kept.txt").string(), Host("own/file-link").string(),
                            false);

    EXPECT_TRUE(RemoveOwnItem(Win(L"own")));
    EXPECT_TRUE(RemoveOwnItem(Win(L"own")));  // nothing left is no failure
    EXPECT_EQ(Snapshot(Host()),
              (Tree{"outside/", "outside/dir/", "outside/dir/precious.txt", "outside/kept.txt"}));
    if (linked) {
        EXPECT_NE(GetFileAttributesW(Win(L"outside\\kept.txt").c_str()) & FILE_ATTRIBUTE_READONLY,
                  0u);
        EXPECT_NE(GetFileAttributesW(Win(L"outside\\dir\\precious.txt").c_str()) &
                      FILE_ATTRIBUTE_READONLY,
                  0u);
    }
    MakeWritable(Host("outside/dir/precious.txt"));
    MakeWritable(Host("outside/kept.txt"));
}

TEST_F(FolderTest, DeleteDirTreeRejectsPathsLongerThanItsBuffers) {
    if (const char* limit = qxtest::LongPathsNotWalkable())
        GTEST_SKIP() << limit;
    // A chain of single folders whose deepest ones no longer fit the search pattern buffer.
    std::string relative = "tree";
    std::wstring deepWin = Win(L"tree");
    while (deepWin.size() < 300) {
        relative += "/" + std::string(40, 'n');
        deepWin += L"\\" + std::wstring(40, L'n');
    }
    WriteFile(Host(relative + "/deep.txt"), "d");
    const Tree before = Snapshot(Host());

    // The walk stops at the first folder it cannot list, so every ancestor stays too.
    EXPECT_FALSE(DeleteDirTree(Win(L"tree").c_str()));
    EXPECT_EQ(Snapshot(Host()), before);
    EXPECT_FALSE(DeleteDirTree(deepWin.c_str()));
    EXPECT_EQ(Snapshot(Host()), before);
}

TEST_F(FolderTest, RecreateDirLeavesAnEmptyFolder) {
    WriteFile(Host("work/old/file"), "x");
    EXPECT_NE(RecreateDir(Win(L"work")), 0);
    EXPECT_NE(RecreateDir(Win(L"new\\chain")), 0);
    EXPECT_EQ(Snapshot(Host()), (Tree{"new/", "new/chain/", "work/"}));

    WriteFile(Host("file"), "x");
    EXPECT_EQ(RecreateDir(Win(L"file\\child")), 0);
}
