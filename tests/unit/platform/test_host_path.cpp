// Windows-form paths reach the host through the drive mapping: Z: is the root, C: the prefix's
// drive_c, relative paths stay relative, and both separators work.
#include <gtest/gtest.h>

#include "platform/posix/host_path.h"
#include "platform/win32.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

std::string Host(const std::wstring& windowsPath) {
    std::string host;
    return qx::ToHostPath(windowsPath, &host) ? host : "<failed>";
}

TEST(HostPath, DriveZIsTheRootWhateverTheSeparators) {
    EXPECT_EQ(Host(L"Z:\\home\\u\\client\\TmpPatch"), "/home/u/client/TmpPatch");
    EXPECT_EQ(Host(L"z:/home/u"), "/home/u");
    EXPECT_EQ(Host(L"Z:\\home/u\\\\client//x"), "/home/u/client/x");
    EXPECT_EQ(Host(L"Z:\\a\\b\\"), "/a/b/");
    EXPECT_EQ(Host(L"Z:"), "/");
    EXPECT_EQ(Host(L"Z:\\"), "/");
    EXPECT_EQ(Host(L"\\\\?\\Z:\\a"), "/a");
}

TEST(HostPath, DriveCIsThePrefixDriveFolderWhichAlwaysExists) {
    qxtest::TempDir dir;
    const std::string prefix = dir.host("prefix");
    qxtest::ScopedEnv env("QXWEB_PREFIX", prefix);
    EXPECT_EQ(Host(L"C:\\QxWebHelper.txt"), prefix + "/drive_c/QxWebHelper.txt");
    EXPECT_EQ(Host(L"c:/windows/system32"), prefix + "/drive_c/windows/system32");
    EXPECT_EQ(Host(L"C:"), prefix + "/drive_c");
    EXPECT_EQ(Host(L"C:\\"), prefix + "/drive_c");
    // As on Windows, the log can be created at the root of C: in a fresh prefix.
    FILE* log = _wfopen(L"C:\\QxWebHelper.txt", L"w");
    ASSERT_NE(log, nullptr);
    fclose(log);
    EXPECT_EQ(
        qxtest::SnapshotTree(dir.host()),
        (std::map<std::string, std::string>{
            {"prefix/", ""}, {"prefix/drive_c/", ""}, {"prefix/drive_c/QxWebHelper.txt", ""}}));
}

TEST(HostPath, PrefixDefaultsToAFolderInHome) {
    qxtest::TempDir home;
    qxtest::ScopedEnv homeEnv("HOME", home.host());
    qxtest::ScopedEnv prefix("QXWEB_PREFIX", "");
    EXPECT_EQ(Host(L"C:\\x"), home.host() + "/.qxwebhelper/drive_c/x");
}

TEST(HostPath, RelativeAndRootedPathsWithoutDrive) {
    EXPECT_EQ(Host(L"a\\b\\c.txt"), "a/b/c.txt");
    EXPECT_EQ(Host(L"a//b"), "a/b");
    EXPECT_EQ(Host(L"\\tmp\\x"), "/tmp/x");  // the root of the current drive, Z:
    EXPECT_EQ(Host(L"/tmp/x"), "/tmp/x");
}

TEST(HostPath, UnknownDrivesAndEmptyPathsFail) {
    std::string host;
    SetLastError(0);
    EXPECT_FALSE(qx::ToHostPath(std::wstring(L"D:\\x"), &host));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(qx::ToHostPath(std::wstring(), &host));
    EXPECT_EQ(GetFileAttributesW(L"Q:\\"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST(HostPath, NarrowPathsAreUtf8) {
    std::string host;
    ASSERT_TRUE(qx::ToHostPath("Z:\\tmp\\\xE8\xA1\xA5\xE4\xB8\x81", &host));
    EXPECT_EQ(host, "/tmp/\xE8\xA1\xA5\xE4\xB8\x81");
}

TEST(HostPath, HostPathsComeBackOnDriveZ) {
    EXPECT_EQ(qx::ToWindowsPath("/home/u/client"), L"Z:\\home\\u\\client");
    EXPECT_EQ(qx::ToWindowsPath("/"), L"Z:\\");
    EXPECT_EQ(qx::ToWindowsPath("rel/x"), L"rel\\x");
    EXPECT_EQ(qx::ToWindowsPath("/tmp/\xE8\xA1\xA5"), L"Z:\\tmp\\\x8865");
}

}  // namespace
