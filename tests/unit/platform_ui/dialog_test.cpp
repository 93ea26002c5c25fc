// The modal dialog run in-process with a test procedure: its messages, the transcript of its
// controls, changes made from a worker thread, and the scripted actions of QXWEB_DIALOG (press,
// close, closing itself when idle). The order of posted and sent messages: tests/unit/winapi.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/posix/resources.h"
#include "platform/win32.h"
#include "ui_test_env.h"

namespace {

const int kTemplate = 501;
const int kLabel = 1004;
const int kStatus = 1003;
const int kProgress = 1001;
const int kButton = 1006;

// What the test's dialog procedure does, and what it saw.
std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)> g_handler;
std::mutex g_logLock;
std::vector<std::string> g_log;

void Log(const std::string& entry) {
    std::lock_guard<std::mutex> lock(g_logLock);
    g_log.push_back(entry);
}

std::vector<std::string> LogSoFar() {
    std::lock_guard<std::mutex> lock(g_logLock);
    return g_log;
}

INT_PTR CALLBACK TestDialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return g_handler(hwnd, msg, wParam, lParam);
}

HWND MakeControl(HWND dialog, const wchar_t* cls, const wchar_t* text, int id, DWORD style) {
    return CreateWindowExW(0, cls, text, WS_CHILD | style, 10, id, 100, 20, dialog,
                           reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
}

// Runs `work` on a program thread (CreateThread), the handle closed at once as the program does.
void StartWorker(std::function<void()> work) {
    auto* job = new std::function<void()>(std::move(work));
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID parameter) -> DWORD {
            std::unique_ptr<std::function<void()>> owned(
                static_cast<std::function<void()>*>(parameter));
            (*owned)();
            return 0;
        },
        job, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    CloseHandle(thread);
}

class ModalDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        qx::RegisterDialogTemplate(kTemplate, L"测试 \"对话框\"", 277, 138);
        g_log.clear();
    }
    INT_PTR Run(LPARAM init = 0) {
        return DialogBoxParamW(nullptr, MAKEINTRESOURCEW(kTemplate), nullptr, TestDialogProc, init);
    }
    uitest::Transcript transcript_;
};

TEST_F(ModalDialog, RunsTheProcedureAndRecordsWhatTheUserSees) {
    qxtest::ScopedEnv script("QXWEB_DIALOG", "close");
    HWND seen = nullptr;
    HWND foreground = nullptr;
    g_handler = [&](HWND hwnd, UINT msg, WPARAM, LPARAM lParam) -> INT_PTR {
        switch (msg) {
            case WM_INITDIALOG: {
                Log("init " + std::to_string(lParam));
                seen = hwnd;
                foreground = GetForegroundWindow();
                MakeControl(hwnd, L"static", L"最新游戏版本：", kLabel, WS_VISIBLE);
                HWND button = MakeControl(hwnd, L"Button", L"启动游戏", kButton, WS_DISABLED);
                EXPECT_EQ(button, GetDlgItem(hwnd, kButton));
                EXPECT_EQ(nullptr, GetDlgItem(hwnd, 4242));
                EXPECT_TRUE(SetWindowTextW(button, L"启动游戏"));  // unchanged: no event
                SetWindowTextW(button, L"一键修复");
                EXPECT_FALSE(ShowWindow(button, SW_SHOW));  // was hidden
                EXPECT_TRUE(ShowWindow(button, SW_SHOW));
                EXPECT_TRUE(EnableWindow(button, TRUE));  // was disabled
                EXPECT_FALSE(EnableWindow(button, TRUE));
                wchar_t text[4];
                EXPECT_EQ(3, GetWindowTextW(button, text, 4));  // cut to the buffer
                EXPECT_EQ(std::wstring(L"一键修"), text);
                return FALSE;
            }
            case WM_PAINT:
                Log("paint");
                return 0;
            case WM_CLOSE:
                Log("close");
                EndDialog(hwnd, 7);
                return TRUE;
            case WM_DESTROY:
                Log("destroy");
                return 0;
            default:
                return FALSE;
        }
    };
    EXPECT_EQ(7, Run(77));
    EXPECT_EQ(seen, foreground);
    EXPECT_EQ(nullptr, GetForegroundWindow());
    EXPECT_EQ((std::vector<std::string>{"init 77", "paint", "close", "destroy"}), LogSoFar());
    std::vector<std::string> expected = {
        R"({"event":"dialog","action":"open","caption":"测试 \"对话框\""})",
        R"({"event":"create","id":1004,"class":"static","text":"最新游戏版本：","visible":true,"enabled":true})",
        R"({"event":"create","id":1006,"class":"Button","text":"启动游戏","visible":false,"enabled":false})",
        R"({"event":"control","id":1006,"text":"一键修复"})",
        R"({"event":"control","id":1006,"visible":true})",
        R"({"event":"control","id":1006,"enabled":true})",
        R"({"event":"dialog","action":"close","caption":"测试 \"对话框\""})",
    };
    EXPECT_EQ(expected, transcript_.Lines());
}

TEST_F(ModalDialog, AWorkerChangesControlsThroughTheDialogThread) {
    qxtest::ScopedEnv script("QXWEB_DIALOG", "");  // used up from the start: close when idle
    std::thread::id dialogThread;
    std::atomic<bool> workerDone{false};
    struct Results {
        HWND created = nullptr;
        LRESULT firstPos = -1, secondPos = -1, fromDialog = -1;
        BOOL wasVisible = -1, wasDisabled = -1;
        std::thread::id handledOn;
    } results;
    g_handler = [&](HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        switch (msg) {
            case WM_INITDIALOG:
                dialogThread = std::this_thread::get_id();
                MakeControl(hwnd, L"msctls_progress32", L"", kProgress, WS_VISIBLE);
                MakeControl(hwnd, L"static", L"", kStatus, 0);
                StartWorker([hwnd, &results, &workerDone] {
                    HWND status = GetDlgItem(hwnd, kStatus);
                    HWND progress = GetDlgItem(hwnd, kProgress);
                    results.created = MakeControl(hwnd, L"static", L"(1/3)", 1007, WS_VISIBLE);
                    SetWindowTextW(status, L"正在下载补丁文件");
                    results.wasVisible = ShowWindow(status, SW_SHOW);
                    results.wasDisabled = EnableWindow(status, FALSE);
                    results.firstPos = SendMessageW(progress, PBM_SETPOS, 150, 0);  // clamped
                    results.secondPos = SendMessageW(progress, PBM_SETPOS, 42, 0);
                    SendMessageW(progress, PBM_SETPOS, 42, 0);  // unchanged: no event
                    results.fromDialog = SendMessageW(hwnd, WM_USER + 7, 1, 2);
                    workerDone = true;
                });
                return FALSE;
            case WM_USER + 7:
                results.handledOn = std::this_thread::get_id();
                return static_cast<INT_PTR>(wParam + lParam + 96);
            case WM_CLOSE:
                Log(workerDone ? "close after the worker" : "close too early");
                EndDialog(hwnd, 0);
                return TRUE;
            default:
                return FALSE;
        }
    };
    EXPECT_EQ(0, Run());
    EXPECT_EQ(std::vector<std::string>{"close after the worker"}, LogSoFar());
    EXPECT_NE(nullptr, results.created);
    EXPECT_EQ(FALSE, results.wasVisible);
    EXPECT_EQ(FALSE, results.wasDisabled);
    EXPECT_EQ(0, results.firstPos);
    EXPECT_EQ(100, results.secondPos);
    EXPECT_EQ(99, results.fromDialog);
    EXPECT_EQ(dialogThread, results.handledOn);
    std::vector<std::string> expected = {
        R"({"event":"dialog","action":"open","caption":"测试 \"对话框\""})",
        R"({"event":"create","id":1001,"class":"msctls_progress32","text":"","visible":true,"enabled":true})",
        R"({"event":"create","id":1003,"class":"static","text":"","visible":false,"enabled":true})",
        R"j({"event":"create","id":1007,"class":"static","text":"(1/3)","visible":true,"enabled":true})j",
        R"({"event":"control","id":1003,"text":"正在下载补丁文件"})",
        R"({"event":"control","id":1003,"visible":true})",
        R"({"event":"control","id":1003,"enabled":false})",
        R"({"event":"control","id":1001,"pos":100})",
        R"({"event":"control","id":1001,"pos":42})",
        R"({"event":"dialog","action":"close","caption":"测试 \"对话框\""})",
    };
    EXPECT_EQ(expected, transcript_.Lines());
}

TEST_F(ModalDialog, PostingToNoWindowOrAPointerMessageFails) {
    SetLastError(0);
    EXPECT_FALSE(PostMessageW(nullptr, WM_USER + 1, 0, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
    SetLastError(0);
    EXPECT_FALSE(PostMessageW(reinterpret_cast<HWND>(0x1234), WM_USER + 1, 0, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
    EXPECT_FALSE(PostMessageW(reinterpret_cast<HWND>(0x1234), WM_SETTEXT, 0, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MESSAGE_SYNC_ONLY), GetLastError());
    EXPECT_EQ(-1, DialogBoxParamW(nullptr, MAKEINTRESOURCEW(999), nullptr, TestDialogProc, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND), GetLastError());
}

TEST_F(ModalDialog, PressWaitsUntilTheButtonIsEnabled) {
    qxtest::ScopedEnv script("QXWEB_DIALOG", "press");
    g_handler = [&](HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        switch (msg) {
            case WM_INITDIALOG: {
                HWND button =
                    MakeControl(hwnd, L"Button", L"一键修复", kButton, WS_VISIBLE | WS_DISABLED);
                StartWorker([hwnd, button] {
                    for (int i = 0; i < 3; ++i) {
                        PostMessageW(hwnd, WM_USER + 1, 0, 0);
                    }
                    EnableWindow(button, TRUE);
                });
                return FALSE;
            }
            case WM_USER + 1:
                Log("work");
                return 0;
            case WM_COMMAND:
                Log("command " + std::to_string(LOWORD(wParam)) + " " +
                    std::to_string(HIWORD(wParam)) + (lParam ? " from the button" : ""));
                EndDialog(hwnd, 3);
                return TRUE;
            default:
                return FALSE;
        }
    };
    EXPECT_EQ(3, Run());
    EXPECT_EQ((std::vector<std::string>{"work", "work", "work", "command 1006 0 from the button"}),
              LogSoFar());
}

TEST_F(ModalDialog, APressThatCanNeverHappenEndsTheScriptAndTheDialogClosesItself) {
    // As after a failed repair: the press starts a worker that leaves the button disabled.
    qxtest::ScopedEnv script("QXWEB_DIALOG", "press,press,close");
    g_handler = [&](HWND hwnd, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        switch (msg) {
            case WM_INITDIALOG:
                MakeControl(hwnd, L"Button", L"一键修复", kButton, WS_VISIBLE);
                return FALSE;
            case WM_COMMAND:
                Log("press");
                EnableWindow(GetDlgItem(hwnd, kButton), FALSE);
                StartWorker([hwnd] { PostMessageW(hwnd, WM_USER + 1, 0, 0); });
                return 0;
            case WM_USER + 1:
                Log("worker failed");
                return 0;
            case WM_CLOSE:
                Log("close");
                EndDialog(hwnd, 0);
                return TRUE;
            default:
                return FALSE;
        }
    };
    Run();
    EXPECT_EQ((std::vector<std::string>{"press", "worker failed", "close"}), LogSoFar());
}

TEST_F(ModalDialog, CloseLeftToTheDialogManagerBecomesCancel) {
    qxtest::ScopedEnv script("QXWEB_DIALOG", "close");
    g_handler = [&](HWND hwnd, UINT msg, WPARAM wParam, LPARAM) -> INT_PTR {
        if (msg == WM_CLOSE) {
            Log("close");
        } else if (msg == WM_COMMAND) {
            Log("command " + std::to_string(LOWORD(wParam)));
            EndDialog(hwnd, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    };
    EXPECT_EQ(IDCANCEL, Run());
    EXPECT_EQ((std::vector<std::string>{"close", "command 2"}), LogSoFar());
}

TEST_F(ModalDialog, WithoutScriptOrTerminalTheDialogClosesWhenIdle) {
    if (isatty(STDOUT_FILENO)) {
        GTEST_SKIP() << "standard output is a terminal: the dialog would be drawn there";
    }
    qxtest::ScopedEnv script("QXWEB_DIALOG", nullptr);
    g_handler = [&](HWND hwnd, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG) {
            MakeControl(hwnd, L"Button", L"启动游戏", kButton, WS_VISIBLE);
        } else if (msg == WM_COMMAND) {
            Log("pressed");
        } else if (msg == WM_CLOSE) {
            Log("close");
            EndDialog(hwnd, 0);
            return TRUE;
        }
        return FALSE;
    };
    Run();
    EXPECT_EQ(std::vector<std::string>{"close"}, LogSoFar());
}

TEST_F(ModalDialog, CallsAfterTheDialogEndedFailInsteadOfWaiting) {
    qxtest::ScopedEnv script("QXWEB_DIALOG", "");
    HWND dialog = nullptr;
    HWND status = nullptr;
    HANDLE lateWorker = nullptr;
    std::atomic<LRESULT> lateResult{-1};
    g_handler = [&](HWND hwnd, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        switch (msg) {
            case WM_INITDIALOG:
                dialog = hwnd;
                status = MakeControl(hwnd, L"static", L"", kStatus, WS_VISIBLE);
                PostMessageW(hwnd, WM_USER + 3, 0, 0);
                return FALSE;
            case WM_USER + 3:
                // The dialog ends while another thread is about to send to it.
                EndDialog(hwnd, 0);
                lateWorker = CreateThread(
                    nullptr, 0,
                    [](LPVOID parameter) -> DWORD {
                        auto* state =
                            static_cast<std::pair<HWND, std::atomic<LRESULT>*>*>(parameter);
                        *state->second = SendMessageW(state->first, WM_USER + 4, 0, 0);
                        delete state;
                        return 0;
                    },
                    new std::pair<HWND, std::atomic<LRESULT>*>(hwnd, &lateResult), 0, nullptr);
                return TRUE;
            case WM_USER + 4:
                Log("late message handled");
                return 5;
            default:
                return FALSE;
        }
    };
    Run();
    ASSERT_NE(nullptr, lateWorker);
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(lateWorker, INFINITE));
    CloseHandle(lateWorker);
    EXPECT_EQ(0, lateResult.load());
    EXPECT_TRUE(LogSoFar().empty());

    EXPECT_FALSE(SetWindowTextW(status, L"x"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
    EXPECT_EQ(0, SendMessageW(status, PBM_SETPOS, 5, 0));
    EXPECT_FALSE(PostMessageW(dialog, WM_USER + 1, 0, 0));
    EXPECT_EQ(nullptr, GetDlgItem(dialog, kStatus));
    EXPECT_FALSE(EndDialog(dialog, 0));
    EXPECT_FALSE(IsWindowVisible(status));
}

TEST(ProgramThreads, TheHandleWaitsForTheEndAndClosingItKillsNothing) {
    static std::atomic<int> stage;
    stage = 0;
    auto work = [](LPVOID) -> DWORD {
        while (stage.load() == 0) {
            std::this_thread::yield();
        }
        stage = 2;
        return 0;
    };
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, work, nullptr, 0, &id);
    ASSERT_NE(nullptr, thread);
    EXPECT_NE(0u, id);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(thread, 0));
    stage = 1;
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(thread, INFINITE));
    EXPECT_EQ(2, stage.load());
    EXPECT_TRUE(CloseHandle(thread));

    stage = 0;
    thread = CreateThread(nullptr, 0, work, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    EXPECT_TRUE(CloseHandle(thread));  // the thread runs on
    stage = 1;
    while (stage.load() != 2) {
        std::this_thread::yield();
    }
}

}  // namespace
