// The registry as folders under the prefix.
#include <gtest/gtest.h>

#include "layer_test_util.h"
#include "platform/win32.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

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

}  // namespace
