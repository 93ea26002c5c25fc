// The simulated power cut of the fault table: a child process writes files through the layer,
// flushes some, renames one, and dies at the chosen flush; what it wrote since each file's last
// flush is gone, cut off or turned to garbage, and everything flushed is still there.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/posix/syscalls.h"
#include "platform/win32.h"
#include "support/temp_dir.h"

namespace {

using qxtest::ReadHostFile;

// Appends through a fresh handle; with `flush`, the file is flushed afterwards.
bool Append(const std::wstring& path, const std::string& text, bool flush) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER none;
    none.QuadPart = 0;
    DWORD written = 0;
    const bool done =
        file != INVALID_HANDLE_VALUE && SetFilePointerEx(file, none, nullptr, FILE_END) &&
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
        (!flush || FlushFileBuffers(file));
    CloseHandle(file);
    return done;
}

bool FlushVolume() {
    HANDLE volume =
        CreateFileW(L"\\\\.\\Z:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    const bool flushed = volume != INVALID_HANDLE_VALUE && FlushFileBuffers(volume);
    CloseHandle(volume);
    return flushed;
}

class PowerCut : public ::testing::TestWithParam<const char*> {
  protected:
    // Runs `work` in a child whose faults are `faults`; true when the child was killed.
    template <typename Work>
    bool KilledInChild(const std::string& faults, Work work) {
        const pid_t child = ::fork();
        if (child == 0) {
            qx::ClearFaults();
            _exit(qx::InjectFaults(faults) && work() ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    }
    bool Garbage() const { return std::string(GetParam()) == "POWERCUT_GARBAGE"; }
    // What a file that held `kept` on the disk and `lost` more in memory reads after the cut.
    void ExpectLost(const std::string& relative, const std::string& kept, size_t lost) const {
        const std::string text = ReadHostFile(dir_.host(relative));
        EXPECT_EQ(text.substr(0, kept.size()), kept) << relative;
        EXPECT_EQ(text.size(), kept.size() + (Garbage() ? lost : 0)) << relative;
    }

    qxtest::TempDir dir_;
};

// A flush of the volume puts every file of its file system on the disk; a file truncated for a
// rewrite loses the new content, not only the bytes past the old end; a file renamed after its
// write is still found under its new name.
TEST_P(PowerCut, WhatWasWrittenSinceTheLastFlushIsLost) {
    const std::string cut = std::string("fsync:3:") + GetParam();
    ASSERT_TRUE(KilledInChild(cut, [&] {
        if (!Append(dir_.win("a"), "aaaa", false) || !Append(dir_.win("b"), "bbbb", false) ||
            !FlushVolume()) {
            return false;
        }
        FILE* rewrite = _wfopen(dir_.win("a").c_str(), L"wb");
        fputs("AA", rewrite);
        fclose(rewrite);
        return Append(dir_.win("journal"), "line 1\n", true) &&      // fsync 1
               Append(dir_.win("data"), "unflushed data", false) &&  //
               MoveFileExW(dir_.win("data").c_str(), dir_.win("moved").c_str(), 0) &&
               Append(dir_.win("journal"), "line 2\n", true) &&  // fsync 2
               Append(dir_.win("journal"), "line 3, never flushed\n", false) &&
               Append(dir_.win("b"), "BB", true);  // fsync 3: the cut
    }));
    ExpectLost("a", "", 2);
    ExpectLost("b", "bbbb", 2);
    ExpectLost("journal", "line 1\nline 2\n", 22);
    ExpectLost("moved", "", 14);
    if (Garbage()) {
        EXPECT_NE(ReadHostFile(dir_.host("moved")), "unflushed data");
    }
}

INSTANTIATE_TEST_SUITE_P(Losses, PowerCut, ::testing::Values("POWERCUT", "POWERCUT_GARBAGE"));

}  // namespace
