// The C runtime names: streams on Windows-form paths (text mode writes CRLF, faults reach
// fwrite), _wmkdir/_mkdir with errno, _wtoi and the time functions.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <thread>

#include "platform/posix/syscalls.h"
#include "platform/win32.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

using qxtest::ReadHostFile;
using qxtest::WriteHostFile;

class Crt : public ::testing::Test {
  protected:
    void TearDown() override { qx::ClearFaults(); }
    qxtest::TempDir dir_;
};

TEST_F(Crt, TextModeWritesAndReadsCrLfBinaryModeKeepsBytes) {
    FILE* text = _wfopen(dir_.win("log.txt").c_str(), L"w");
    ASSERT_NE(text, nullptr);
    fputs("line 1\nline 2\n", text);
    EXPECT_EQ(fclose(text), 0);
    EXPECT_EQ(ReadHostFile(dir_.host("log.txt")), "line 1\r\nline 2\r\n");

    char buffer[64] = {};
    text = _wfopen(dir_.win("log.txt").c_str(), L"rt");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(fread(buffer, 1, sizeof buffer, text), 14u);
    EXPECT_EQ(std::string(buffer, 14), "line 1\nline 2\n");
    fclose(text);

    FILE* binary = fopen(qxtest::NarrowWinPath(dir_.host("data.bin")).c_str(), "wb");
    ASSERT_NE(binary, nullptr);
    fwrite("a\nb\r\n", 1, 5, binary);
    fclose(binary);
    EXPECT_EQ(ReadHostFile(dir_.host("data.bin")), "a\nb\r\n");
}

TEST_F(Crt, TextReadJoinsCrLfAcrossBufferBoundaries) {
    // A CR as the last byte of one read and its LF as the first byte of the next.
    std::string content;
    for (int i = 0; i < 40000; ++i) {
        content += "ab\r\n";
    }
    WriteHostFile(dir_.host("many.txt"), content);
    FILE* file = _wfopen(dir_.win("many.txt").c_str(), L"r");
    ASSERT_NE(file, nullptr);
    std::string read;
    char chunk[4097];
    size_t got = 0;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) {
        read.append(chunk, got);
    }
    fclose(file);
    std::string expected;
    for (int i = 0; i < 40000; ++i) {
        expected += "ab\n";
    }
    EXPECT_EQ(read, expected);
}

TEST_F(Crt, AppendPlusCreatesThenAppends) {
    for (const char* part : {"first", "second"}) {
        FILE* file = _wfopen(dir_.win("TmpPatch.part").c_str(), L"ab+");
        ASSERT_NE(file, nullptr);
        fwrite(part, 1, std::strlen(part), file);
        fclose(file);
    }
    EXPECT_EQ(ReadHostFile(dir_.host("TmpPatch.part")), "firstsecond");
    EXPECT_EQ(_wfopen(dir_.win("missing/x").c_str(), L"ab+"), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(_wfopen(dir_.win().c_str(), L"rb"), nullptr);  // a folder is no file
    EXPECT_EQ(errno, EACCES);
}

TEST_F(Crt, InjectedFullDiskFailsTheNthWriteThroughFwrite) {
    FILE* file = _wfopen(dir_.win("out.bin").c_str(), L"wb");
    ASSERT_NE(file, nullptr);
    const std::string block(1 << 20, 'x');
    qx::InjectFault(qx::Sys::Write, 3, ENOSPC);
    // The first write reaches the disk; a later one fails, and fwrite tells.
    EXPECT_EQ(fwrite(block.data(), 1, block.size(), file), block.size());
    size_t failedAt = 0;
    for (size_t i = 2; i <= 10 && failedAt == 0; ++i) {
        errno = 0;
        if (fwrite(block.data(), 1, block.size(), file) < block.size()) {
            failedAt = i;
        }
    }
    EXPECT_NE(failedAt, 0u);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_TRUE(ferror(file));
    fclose(file);
    EXPECT_LT(qxtest::ReadHostFile(dir_.host("out.bin")).size(), failedAt * block.size());
}

TEST_F(Crt, PathRestrictedFaultOnlyHitsMatchingFilesAndFiresOnce) {
    ASSERT_TRUE(qx::InjectFaults("write:1:ENOSPC:Documents"));
    ::mkdir(dir_.host("Documents").c_str(), 0755);
    FILE* other = _wfopen(dir_.win("other.txt").c_str(), L"wb");
    fputs("fine", other);
    EXPECT_EQ(fclose(other), 0);
    FILE* doc = _wfopen(dir_.win("Documents/a.txt").c_str(), L"wb");
    fputs("lost", doc);
    EXPECT_EQ(fclose(doc), EOF);  // the buffered write fails at the flush
    doc = _wfopen(dir_.win("Documents/b.txt").c_str(), L"wb");
    fputs("kept", doc);
    EXPECT_EQ(fclose(doc), 0);
    EXPECT_EQ(qxtest::SnapshotTree(dir_.host()),
              (std::map<std::string, std::string>{{"Documents/", ""},
                                                  {"Documents/a.txt", ""},
                                                  {"Documents/b.txt", "kept"},
                                                  {"other.txt", "fine"}}));
}

TEST_F(Crt, CallsInterruptedBySignalsAreRepeated) {
    qx::InjectFault(qx::Sys::Write, 1, EINTR);
    FILE* out = _wfopen(dir_.win("a.bin").c_str(), L"wb");
    ASSERT_NE(out, nullptr);
    fputs("data", out);
    EXPECT_EQ(fclose(out), 0);
    qx::InjectFault(qx::Sys::Read, 1, EINTR);
    FILE* in = _wfopen(dir_.win("a.bin").c_str(), L"rb");
    ASSERT_NE(in, nullptr);
    char buffer[8] = {};
    EXPECT_EQ(fread(buffer, 1, sizeof buffer, in), 4u);
    fclose(in);
    qx::InjectFault(qx::Sys::Copy, 1, EINTR);
    EXPECT_TRUE(CopyFileW(dir_.win("a.bin").c_str(), dir_.win("b.bin").c_str(), FALSE));
    EXPECT_EQ(qxtest::SnapshotTree(dir_.host()),
              (std::map<std::string, std::string>{{"a.bin", "data"}, {"b.bin", "data"}}));
}

TEST_F(Crt, FaultListSyntax) {
    EXPECT_TRUE(qx::InjectFaults("write:5:ENOSPC,unlink:1:EACCES,open:2:13:C:\\x"));
    EXPECT_FALSE(qx::InjectFaults("write:0:ENOSPC"));
    EXPECT_FALSE(qx::InjectFaults("frobnicate:1:EIO"));
    EXPECT_FALSE(qx::InjectFaults("write:1:ENOTANERRNO"));
    EXPECT_FALSE(qx::InjectFaults("write:1"));
    qx::ClearFaults();
    // The ':' inside the substring belongs to it.
    ASSERT_TRUE(qx::InjectFaults("unlink:1:EACCES:" + dir_.host("victim")));
    WriteHostFile(dir_.host("victim"), "v");
    WriteHostFile(dir_.host("other"), "o");
    EXPECT_TRUE(DeleteFileW(dir_.win("other").c_str()));
    EXPECT_FALSE(DeleteFileW(dir_.win("victim").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(DeleteFileW(dir_.win("victim").c_str()));
}

TEST_F(Crt, NarrowMkdirTakesAWindowsFormPath) {
    EXPECT_EQ(_mkdir((qxtest::NarrowWinPath(dir_.host()) + "/narrow").c_str()), 0);
    EXPECT_EQ(GetFileAttributesW(dir_.win("narrow").c_str()), FILE_ATTRIBUTE_DIRECTORY);
}

TEST(CrtWtoi, ParsesLikeTheMicrosoftRuntime) {
    EXPECT_EQ(_wtoi(L"42"), 42);
    EXPECT_EQ(_wtoi(L"  \t-17abc"), -17);
    EXPECT_EQ(_wtoi(L"+8"), 8);
    EXPECT_EQ(_wtoi(L"abc"), 0);
    EXPECT_EQ(_wtoi(L""), 0);
    EXPECT_EQ(_wtoi(L"- 5"), 0);
    EXPECT_EQ(_wtoi(L"007"), 7);
    EXPECT_EQ(_wtoi(L"99999999999"), INT_MAX);
    EXPECT_EQ(_wtoi(L"-99999999999"), INT_MIN);
    EXPECT_EQ(_wtoi(L"-2147483648"), INT_MIN);
}

TEST(CrtTime, LocalTimeIsPerThread) {
    qxtest::ScopedEnv tz("TZ", "UTC");
    tzset();
    __time64_t now = 0;
    EXPECT_EQ(_time64(&now), now);
    const __time64_t y2000 = 946684800;  // 2000-01-01 00:00:00 UTC
    struct tm* mine = _localtime64(&y2000);
    ASSERT_NE(mine, nullptr);
    std::thread other([] {
        const __time64_t y1999 = 946684800 - 86400;
        EXPECT_EQ(_localtime64(&y1999)->tm_year, 99);
    });
    other.join();
    EXPECT_EQ(mine->tm_year, 100);
    EXPECT_EQ(mine->tm_mday, 1);
    const __time64_t negative = -1;
    EXPECT_EQ(_localtime64(&negative), nullptr);
}

}  // namespace
