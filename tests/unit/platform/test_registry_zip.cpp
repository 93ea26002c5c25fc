// The registry as folders under the prefix, and minizip opening archives through the layer.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "layer_test_util.h"
#include "platform/minizip.h"
#include "platform/posix/syscalls.h"
#include "platform/win32.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace {

using qxtest::WriteHostFile;

class Registry : public ::testing::Test {
  protected:
    std::string Root() const { return prefix_.host("registry/HKEY_CLASSES_ROOT"); }
    qxtest::TempDir prefix_;
    qxtest::ScopedEnv env_{"QXWEB_PREFIX", prefix_.host()};
};

TEST_F(Registry, DeletesAKeyWithAllItsContentIgnoringCase) {
    WriteHostFile(Root() + "/ZURuzezuZ.ZURuzezuZCtrl.1/CLSID/(Default)", "{...}");
    WriteHostFile(Root() + "/Other/value", "v");
    EXPECT_EQ(SHDeleteKeyW(HKEY_CLASSES_ROOT, L"ZURUZEZUZ.ZURuzezuZCtrl.1"), ERROR_SUCCESS);
    EXPECT_EQ(qxtest::SnapshotTree(Root()),
              (std::map<std::string, std::string>{{"Other/", ""}, {"Other/value", "v"}}));
    EXPECT_EQ(SHDeleteKeyW(HKEY_CLASSES_ROOT, L"ZURUZEZUZ.ZURuzezuZCtrl.1"), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, NamesCannotReachOutsideTheKeyFolder) {
    WriteHostFile(prefix_.host("registry/precious"), "p");
    WriteHostFile(Root() + "/Key/Sub/v", "v");
    EXPECT_EQ(SHDeleteKeyW(HKEY_CLASSES_ROOT, L".."), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SHDeleteKeyW(HKEY_CLASSES_ROOT, L"Key\\..\\.."), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SHDeleteKeyW(HKEY_CLASSES_ROOT, L""), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SHDeleteKeyW(HKEY_CLASSES_ROOT, L"Key\\Sub"), ERROR_SUCCESS);
    EXPECT_EQ(qxtest::SnapshotTree(prefix_.host()),
              (std::map<std::string, std::string>{{"registry/", ""},
                                                  {"registry/HKEY_CLASSES_ROOT/", ""},
                                                  {"registry/HKEY_CLASSES_ROOT/Key/", ""},
                                                  {"registry/precious", "p"}}));
}

class ZipIo : public ::testing::Test {
  protected:
    void TearDown() override { qx::ClearFaults(); }
    qxtest::TempDir dir_;
};

std::string ReadEntry(unzFile zip, const char* name) {
    if (unzLocateFile(zip, name, 0) != UNZ_OK || unzOpenCurrentFile(zip) != UNZ_OK)
        return "?";
    std::string data;
    char buffer[4096];
    int got = 0;
    while ((got = unzReadCurrentFile(zip, buffer, sizeof buffer)) > 0)
        data.append(buffer, got);
    unzCloseCurrentFile(zip);
    return got < 0 ? "?" : data;
}

TEST_F(ZipIo, OpensAWindowsFormPathAndReadsEntries) {
    std::string big(700000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>((i * 31) ^ (i >> 9));
    qxtest::ZipBuilder()
        .File("a.txt", "alpha")
        .File("dir/b.bin", big, qxtest::ZipBuilder::Method::Stored)
        .File("c.txt", std::string(300000, 'c'))
        .WriteTo(dir_.host("patch.zip"));
    unzFile zip = unzOpen2_64(qxtest::NarrowWinPath(dir_.host("patch.zip")).c_str(), nullptr);
    ASSERT_NE(zip, nullptr);
    EXPECT_EQ(ReadEntry(zip, "c.txt"), std::string(300000, 'c'));
    EXPECT_EQ(ReadEntry(zip, "a.txt"), "alpha");  // backwards after forwards
    EXPECT_EQ(ReadEntry(zip, "dir/b.bin"), big);
    EXPECT_EQ(unzClose(zip), UNZ_OK);
}

TEST_F(ZipIo, MissingFilesFoldersAndNonArchivesGiveNoHandle) {
    EXPECT_EQ(unzOpen2_64(qxtest::NarrowWinPath(dir_.host("none.zip")).c_str(), nullptr), nullptr);
    EXPECT_EQ(unzOpen2_64(qxtest::NarrowWinPath(dir_.host()).c_str(), nullptr), nullptr);
    WriteHostFile(dir_.host("text.zip"), "not an archive");
    EXPECT_EQ(unzOpen2_64(qxtest::NarrowWinPath(dir_.host("text.zip")).c_str(), nullptr), nullptr);
}

TEST_F(ZipIo, AReadFaultInsideAnEntryIsAnError) {
    qxtest::ZipBuilder()
        .File("big.bin", std::string(1 << 20, 'b'), qxtest::ZipBuilder::Method::Stored)
        .WriteTo(dir_.host("ok.zip"));
    unzFile zip = unzOpen2_64(qxtest::NarrowWinPath(dir_.host("ok.zip")).c_str(), nullptr);
    ASSERT_NE(zip, nullptr);
    qx::InjectFault(qx::Sys::Read, 1, EIO, "ok.zip");
    EXPECT_EQ(ReadEntry(zip, "big.bin"), "?");
    EXPECT_EQ(ReadEntry(zip, "big.bin"), std::string(1 << 20, 'b'));  // once only
    unzClose(zip);
}

}  // namespace
