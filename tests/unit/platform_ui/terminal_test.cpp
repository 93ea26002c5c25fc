// The terminal view, driven through a pseudo-terminal: the test program runs itself again as the
// child on the terminal's other side, types keys, and reads back what was drawn.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "platform/posix/resources.h"
#include "platform/win32.h"

namespace {

const char kChildVariable[] = "QX_UI_TERMINAL_CHILD";

bool IsChild(const char* role) {
    const char* value = std::getenv(kChildVariable);
    return value != nullptr && std::string(value) == role;
}

// The terminal is back in line mode with echo, as the shell left it.
bool TerminalRestored() {
    struct termios now {};
    return ::tcgetattr(STDIN_FILENO, &now) == 0 && (now.c_lflag & ICANON) && (now.c_lflag & ECHO);
}

// The child on a pseudo-terminal: this test program again, running only `test`.
class TerminalChild {
  public:
    TerminalChild(const char* role, const char* test) {
        struct winsize size {};
        size.ws_row = 24;
        size.ws_col = 80;
        pid_ = ::forkpty(&master_, nullptr, nullptr, &size);
        if (pid_ == 0) {
            ::setenv(kChildVariable, role, 1);
            ::unsetenv("QXWEB_ANSWERS");
            ::unsetenv("QXWEB_DIALOG");
            ::unsetenv("QXWEB_TRANSCRIPT");
            std::string filter = std::string("--gtest_filter=") + test;
            ::execl("/proc/self/exe", "test_platform_ui", filter.c_str(), nullptr);
            ::_exit(127);
        }
    }
    ~TerminalChild() {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) {
            ::close(master_);
        }
    }

    bool Started() const { return pid_ > 0; }

    // Reads until `text` has appeared (after what earlier waits consumed); false when the child
    // goes quiet for long or ends without showing it.
    bool WaitFor(const std::string& text) {
        while (true) {
            size_t found = output_.find(text, consumed_);
            if (found != std::string::npos) {
                consumed_ = found + text.size();
                return true;
            }
            struct pollfd entry = {master_, POLLIN, 0};
            if (::poll(&entry, 1, 20000) <= 0) {
                return false;
            }
            char buffer[4096];
            ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) {
                return false;
            }
            output_.append(buffer, static_cast<size_t>(n));
        }
    }

    void Type(const std::string& keys) {
        ssize_t ignored = ::write(master_, keys.data(), keys.size());
        (void)ignored;
    }

    // The child's exit code.
    int Finish() {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::read(master_, buffer, sizeof buffer)) > 0) {
            output_.append(buffer, static_cast<size_t>(n));
        }
        int status = 0;
        ::waitpid(pid_, &status, 0);
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    const std::string& Output() const { return output_; }

  private:
    pid_t pid_ = -1;
    int master_ = -1;
    bool reaped_ = false;
    std::string output_;
    size_t consumed_ = 0;
};

// ---- The children ----

TEST(TerminalChildren, Box) {
    if (!IsChild("box")) {
        GTEST_SKIP() << "runs only on the pseudo-terminal of TerminalView tests";
    }
    int answer = MessageBoxW(nullptr, L"是否立即结束进程？", L"提示", MB_YESNO);
    std::_Exit(TerminalRestored() ? answer : 100);
}

INT_PTR CALLBACK ChildDialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
        case WM_INITDIALOG:
            CreateWindowExW(0, L"static", L"最新游戏版本：", WS_CHILD | WS_VISIBLE, 20, 20, 200, 30,
                            hwnd, reinterpret_cast<HMENU>(1004), nullptr, nullptr);
            CreateWindowExW(0, L"static", L"1.0.10", WS_CHILD | WS_VISIBLE, 120, 20, 100, 30, hwnd,
                            reinterpret_cast<HMENU>(1002), nullptr, nullptr);
            CreateWindowExW(0, L"msctls_progress32", L"", WS_CHILD | WS_VISIBLE, 40, 75, 338, 30,
                            hwnd, reinterpret_cast<HMENU>(1001), nullptr, nullptr);
            CreateWindowExW(0, L"Button", L"一键修复", WS_CHILD | WS_VISIBLE, 150, 180, 100, 30,
                            hwnd, reinterpret_cast<HMENU>(1006), nullptr, nullptr);
            return FALSE;
        case WM_COMMAND:
            if (LOWORD(wParam) == 1006) {
                SendMessageW(GetDlgItem(hwnd, 1001), PBM_SETPOS, 40, 0);
                SetWindowTextW(GetDlgItem(hwnd, 1006), L"已按下");
                EnableWindow(GetDlgItem(hwnd, 1006), FALSE);
            } else if (LOWORD(wParam) == IDCANCEL) {
                SetWindowTextW(GetDlgItem(hwnd, 1002), L"取消了");
            }
            return TRUE;
        case WM_CLOSE:
            EndDialog(hwnd, 9);
            return TRUE;
        default:
            return FALSE;
    }
}

TEST(TerminalChildren, Dialog) {
    if (!IsChild("dialog")) {
        GTEST_SKIP() << "runs only on the pseudo-terminal of TerminalView tests";
    }
    qx::RegisterDialogTemplate(102, L"《Zorvan》手游客户端修复工具", 277, 138);
    INT_PTR result = DialogBoxParamW(nullptr, MAKEINTRESOURCEW(102), nullptr, ChildDialogProc, 0);
    std::_Exit(TerminalRestored() ? static_cast<int>(result) : 100);
}

// ---- The tests ----

TEST(TerminalView, ABoxShowsItsButtonsAndTakesTheArrowAndEnterKeys) {
    TerminalChild child("box", "TerminalChildren.Box");
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(child.WaitFor("[提示]"));
    ASSERT_TRUE(child.WaitFor("是否立即结束进程？"));
    ASSERT_TRUE(child.WaitFor("否(N)"));
    child.Type("\x1b[C");  // right arrow: from Yes to No
    child.Type("\r");
    EXPECT_EQ(IDNO, child.Finish()) << child.Output();
}

TEST(TerminalView, ABoxAnswersToTheLetterOfAButton) {
    TerminalChild child("box", "TerminalChildren.Box");
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(child.WaitFor("否(N)"));
    child.Type("y");
    EXPECT_EQ(IDYES, child.Finish()) << child.Output();
}

TEST(TerminalView, TheDialogIsDrawnAndDrivenByEnterEscAndQ) {
    TerminalChild child("dialog", "TerminalChildren.Dialog");
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(child.WaitFor("《Zorvan》手游客户端修复工具"));
    ASSERT_TRUE(child.WaitFor("最新游戏版本：1.0.10"));  // one row: label and value
    ASSERT_TRUE(child.WaitFor("[" + std::string(40, ' ') + "]   0%"));
    ASSERT_TRUE(child.WaitFor("[ 一键修复 ]"));
    child.Type("\r");
    // 40 of 100 on a bar of 40 cells: 16 solid cells, 24 empty ones.
    std::string solid;
    for (int cell = 0; cell < 16; ++cell) {
        solid += "\u2588";
    }
    ASSERT_TRUE(child.WaitFor("[" + solid + std::string(24, ' ') + "]  40%"));
    ASSERT_TRUE(child.WaitFor("\x1b[2m  [ 已按下 ]"));  // disabled: dimmed
    child.Type("\r");                                   // a disabled button does not react
    child.Type("\x1b");
    ASSERT_TRUE(child.WaitFor("最新游戏版本：取消了"));
    child.Type("q");
    EXPECT_EQ(9, child.Finish()) << child.Output();
    EXPECT_NE(std::string::npos, child.Output().find("\x1b[?1049l"));  // the screen given back
}

}  // namespace
