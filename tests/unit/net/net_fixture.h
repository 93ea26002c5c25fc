// The shared set-up of the network tests: a scratch folder standing in for the client folder
// (g_exeDir) and for drive C: (QXWEB_PREFIX), a transcript of the boxes, scripted answers, and the
// process-wide transfer state put back to how a fresh process starts.
#pragma once

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/http_client.h"
#include "patchlist/patch_list.h"
#include "platform/posix/script.h"
#include "state/app_state.h"
#include "state/log.h"
#include "state/progress_state.h"
#include "support/test_server.h"
#include "support/transcript_reader.h"

namespace qxtest {

class NetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/qx_net_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        scratch_ = pattern;
        std::filesystem::create_directories(scratch_ + "/client/TmpPatch");
        std::filesystem::create_directories(scratch_ + "/prefix/drive_c");
        setenv("QXWEB_PREFIX", (scratch_ + "/prefix").c_str(), 1);
        setenv("QXWEB_TRANSCRIPT", TranscriptPath().c_str(), 1);
        setenv("QXWEB_RETRY_PAUSE_MS", "10", 1);
        SetAnswers("");
        g_exeDir = WindowsPath(scratch_ + "/client/");
        ResetProcessState();
    }

    void TearDown() override {
        LogClose();
        unsetenv("QXWEB_ANSWERS");
        unsetenv("QXWEB_TRANSCRIPT");
        unsetenv("QXWEB_PREFIX");
        unsetenv("QXWEB_RETRY_PAUSE_MS");
        std::error_code ignored;
        std::filesystem::remove_all(scratch_, ignored);
    }

    // Test-only reset of what a run keeps between operations: the client's flags, the progress
    // counters, the patch list, and the log latch (the next entry opens the log anew).
    static void ResetProcessState() {
        HttpClient* client = GetHttpClient();
        client->writeEnabled = false;
        client->cumulativePatchPresent = false;
        g_responseBuffer.clear();
        g_prevDlNow = 0;
        g_speedBytes = 0;
        g_hMainDlg = nullptr;
        g_patchList.clear();
        g_patchListHeaders.clear();
        LogClose();
        g_log = nullptr;
    }

    // Answers for the coming message boxes ("ok,cancel,..."), consumed from the first one.
    static void SetAnswers(const std::string& answers) {
        setenv("QXWEB_ANSWERS", answers.c_str(), 1);
        qx::ui::ResetScriptedAnswers();
    }

    static std::wstring WindowsPath(const std::string& hostPath) {
        std::wstring path = L"Z:";
        for (char c : hostPath)
            path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
        return path;
    }
    static std::string NarrowWindowsPath(const std::string& hostPath) {
        std::string path = "Z:";
        for (char c : hostPath)
            path += c == '/' ? '\\' : c;
        return path;
    }

    // The log with every well-formed "[hh:mm.ss] " time of day replaced by "[TIME] ", so that a
    // whole log can be compared; a malformed stamp stays as it is and fails the comparison.
    static std::string MaskTimes(const std::string& log) {
        std::string out;
        for (size_t i = 0; i < log.size();) {
            if (IsTimeStamp(log, i)) {
                out += "[TIME] ";
                i += 11;
            } else {
                out += log[i++];
            }
        }
        return out;
    }
    static bool IsTimeStamp(const std::string& s, size_t at) {
        if (s.size() < at + 11 || s[at] != '[' || s[at + 3] != ':' || s[at + 6] != '.' ||
            s[at + 9] != ']' || s[at + 10] != ' ') {
            return false;
        }
        auto twoDigits = [&](size_t p, int limit) {
            return isdigit(static_cast<unsigned char>(s[p])) &&
                   isdigit(static_cast<unsigned char>(s[p + 1])) &&
                   (s[p] - '0') * 10 + (s[p + 1] - '0') < limit;
        };
        return twoDigits(at + 1, 24) && twoDigits(at + 4, 60) && twoDigits(at + 7, 61);
    }
    // The four banner lines with which every log starts (CR LF: the log is a text stream).
    static std::string LogBanner() {
        const std::string line = std::string(32, '=') + "\r\n";
        return line + line + line + line;
    }

    std::string TranscriptPath() const { return scratch_ + "/transcript.jsonl"; }
    std::string TmpPatchFile(const std::string& name) const {
        return scratch_ + "/client/TmpPatch/" + name;
    }
    std::string LogPath() const { return scratch_ + "/prefix/drive_c/QxWebHelper.txt"; }

    std::vector<Box> Boxes() const { return BoxesOf(ReadTranscript(TranscriptPath())); }

    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static void WriteFile(const std::string& path, const std::string& content) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    }

    std::string scratch_;
};

}  // namespace qxtest
