// The shared set-up of the network tests: a scratch folder standing in for the client folder
// (g_exeDir) and for drive C: (QXWEB_PREFIX), a transcript of the boxes, scripted answers, and the
// process-wide state put back to how a fresh process starts.
#pragma once

#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fsutil/text.h"
#include "net/http_client.h"
#include "net/transfer_listener.h"
#include "patchlist/patch_list.h"
#include "platform/posix/script.h"
#include "state/app_state.h"
#include "state/log.h"
#include "ui/progress_state.h"
#include "support/process_globals.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/test_server.h"
#include "support/transcript_reader.h"

namespace qxtest {

// Hears a file transfer's progress and retries, as the repair's download stage does.
class RecordingListener : public TransferListener {
  public:
    void OnProgress(int64_t received, int64_t total) override {
        lastReceived = received;
        lastTotal = total;
    }
    void OnAttemptFailed(int /*attempt*/, const std::wstring& reason, int64_t /*held*/) override {
        retries.push_back(reason);
    }

    int64_t lastReceived = 0;
    int64_t lastTotal = 0;
    std::vector<std::wstring> retries;
};

class NetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(scratch_.host("client/TmpPatch"));
        std::filesystem::create_directories(scratch_.host("prefix/drive_c"));
        SetAnswers("");
        ResetProcessGlobals();
        g_exeDir = scratch_.win("client") + L"\\";
    }

    // Closes the log before its folder goes.
    void TearDown() override { ResetProcessGlobals(); }

    // Answers for the coming message boxes ("ok,cancel,..."), consumed from the first one.
    static void SetAnswers(const std::string& answers) {
        setenv("QXWEB_ANSWERS", answers.c_str(), 1);
        qx::ui::ResetScriptedAnswers();
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

    std::string TranscriptPath() const { return scratch_.host("transcript.jsonl"); }
    std::string TmpPatchFile(const std::string& name) const {
        return scratch_.host("client/TmpPatch/" + name);
    }
    // The file in the program's form of its path.
    std::wstring TmpPatchPath(const std::string& name) const {
        return scratch_.win("client/TmpPatch/" + name);
    }

    // The body of the URL appended to TmpPatch\name, the listener hearing it.
    TransferOutcome Download(const std::string& url, const std::string& name) {
        return GetHttpClient()->DownloadToFile(url, TmpPatchPath(name), &listener_);
    }
    bool Probe(const std::string& url, const std::string& name) {
        return GetHttpClient()->ProbeRemoteFile(url, TmpPatchPath(name + "_tmp"));
    }
    // The body of the URL as text (at most `limit` bytes); "" when the transfer failed.
    static std::string Fetch(const std::string& url, TransferOutcome* outcome = nullptr,
                             size_t limit = 1 << 20) {
        std::string body;
        const TransferOutcome result = GetHttpClient()->FetchToMemory(url, body, limit);
        if (outcome != nullptr) {
            *outcome = result;
        }
        return result.Succeeded() ? body : std::string();
    }
    // Why a transfer failed as its box would say it ("HTTP 404", libcurl's text); "" for success.
    static std::string Reason(const TransferOutcome& outcome) {
        std::string narrow;
        return outcome.Succeeded() ? std::string() : WideToAnsi(outcome.description, narrow);
    }
    std::string LogPath() const { return scratch_.host("prefix/drive_c/QxWebHelper.txt"); }

    std::vector<Box> Boxes() const { return BoxesOf(ReadTranscript(TranscriptPath())); }

    TempDir scratch_;
    ScopedEnv prefix_{"QXWEB_PREFIX", scratch_.host("prefix")};
    ScopedEnv transcript_{"QXWEB_TRANSCRIPT", TranscriptPath()};
    ScopedEnv answers_{"QXWEB_ANSWERS", ""};
    ScopedEnv retryPause_{"QXWEB_RETRY_PAUSE_MS", "10"};
    RecordingListener listener_;
};

}  // namespace qxtest
