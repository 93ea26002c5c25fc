// Raw mode, the alternate screen and their restoration at exit and on the signals that end the
// process. The state the signal handlers read is kept in sig_atomic_t flags, and restoring uses
// only tcsetattr and write.
#include "terminal_mode.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

#include "syscalls.h"

namespace qx {
namespace ui {
namespace {

struct termios g_savedTermios;
volatile sig_atomic_t g_rawActive = 0;
volatile sig_atomic_t g_rawFd = -1;
volatile sig_atomic_t g_altScreen = 0;

const char kShowCursor[] = "\x1b[?25h";
const char kLeaveAltScreen[] = "\x1b[?1049l";

// One write, no retry: this runs inside signal handlers.
void WriteOnce(const char* text, size_t size) {
    ssize_t ignored = ::write(STDOUT_FILENO, text, size);
    (void)ignored;
}

void OnFatalSignal(int sig) {
    RestoreTerminal();
    ::raise(sig);  // the handler was installed with SA_RESETHAND: this time the default acts
}

void InstallRestorers() {
    static bool installed = false;
    if (installed) {
        return;
    }
    installed = true;
    std::atexit(RestoreTerminal);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) {
            continue;  // leave alone what someone else set up
        }
        struct sigaction action {};
        action.sa_handler = OnFatalSignal;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        ::sigaction(sig, &action, nullptr);
    }
}

}  // namespace

void EnterRawMode(int fd) {
    InstallRestorers();
    struct termios raw {};
    if (::tcgetattr(fd, &raw) != 0) {
        return;
    }
    g_savedTermios = raw;
    g_rawFd = fd;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);  // ISIG stays: Ctrl-C still ends
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSAFLUSH, &raw) == 0) {
        g_rawActive = 1;
    }
}

void RestoreTerminal() {
    if (g_rawActive) {
        ::tcsetattr(g_rawFd, TCSAFLUSH, &g_savedTermios);
        g_rawActive = 0;
        WriteOnce(kShowCursor, sizeof kShowCursor - 1);
    }
    if (g_altScreen) {
        g_altScreen = 0;
        WriteOnce(kLeaveAltScreen, sizeof kLeaveAltScreen - 1);
    }
}

void EnterAlternateScreen() {
    g_altScreen = 1;
    WriteToTerminal("\x1b[?1049h\x1b[?25l");
}

void LeaveAlternateScreen() {
    g_altScreen = 0;
    WriteToTerminal(std::string(kLeaveAltScreen) + kShowCursor);
}

void WriteToTerminal(const std::string& text) {
    sys::WriteAllPastFaults(STDOUT_FILENO, text.data(), text.size());
}

}  // namespace ui
}  // namespace qx
