// The terminal view of the dialog and of message boxes. One input thread reads raw keys while a
// view or a box is active and hands them to the box that asks, else to the dialog. The terminal's
// settings are restored when the last user leaves, at exit, and on the signals that end the
// process.
#include "terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <thread>

#include "syscalls.h"
#include "transcript.h"

namespace qx {
namespace ui {
namespace {

enum class Key { None, Enter, Escape, Left, Right, Tab, Char, End };

struct KeyPress {
    Key key = Key::None;
    char ch = 0;
};

// ---- Raw mode and its restoration ----

struct termios g_savedTermios;
volatile sig_atomic_t g_rawActive = 0;
volatile sig_atomic_t g_rawFd = -1;
volatile sig_atomic_t g_altScreen = 0;  // the dialog view draws on the alternate screen

void WriteOut(const std::string& text) {
    sys::WriteAllPastFaults(STDOUT_FILENO, text.data(), text.size());
}

// Async-signal-safe: only tcsetattr and write.
void RestoreTerminalNow() {
    if (g_rawActive) {
        ::tcsetattr(g_rawFd, TCSAFLUSH, &g_savedTermios);
        g_rawActive = 0;
        static const char kShowCursor[] = "\x1b[?25h";
        ssize_t ignored = ::write(STDOUT_FILENO, kShowCursor, sizeof kShowCursor - 1);
        (void)ignored;
    }
    if (g_altScreen) {
        g_altScreen = 0;
        static const char kLeaveAltScreen[] = "\x1b[?1049l";
        ssize_t ignored = ::write(STDOUT_FILENO, kLeaveAltScreen, sizeof kLeaveAltScreen - 1);
        (void)ignored;
    }
}

void OnFatalSignal(int sig) {
    RestoreTerminalNow();
    ::raise(sig);  // the handler was installed with SA_RESETHAND: this time the default acts
}

void InstallRestorers() {
    static bool installed = false;
    if (installed) {
        return;
    }
    installed = true;
    std::atexit(RestoreTerminalNow);
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

// ---- Key input ----

class Input {
  public:
    static Input& Get() {
        static auto* input = new Input();  // the input thread uses it until the process ends
        return *input;
    }

    bool Available() {
        std::lock_guard<std::mutex> lock(mutex_);
        OpenLocked();
        return fd_ >= 0 && !eof_;
    }

    // A view or a box starts using the keyboard: raw mode on, the reader running.
    bool Acquire() {
        std::lock_guard<std::mutex> lock(mutex_);
        OpenLocked();
        if (fd_ < 0 || eof_) {
            return false;
        }
        if (users_++ == 0) {
            EnterRawLocked();
        }
        if (!readerStarted_) {
            readerStarted_ = true;
            std::thread([this] { ReadKeys(); }).detach();
        }
        changed_.notify_all();
        return true;
    }

    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (users_ > 0 && --users_ == 0) {
            RestoreTerminalNow();
            char wake = 0;
            ssize_t ignored = ::write(wakePipe_[1], &wake, 1);  // the reader goes back to sleep
            (void)ignored;
        }
    }

    void SetDialogListener(std::function<void(DialogKey)> listener) {
        std::lock_guard<std::mutex> lock(mutex_);
        dialogListener_ = std::move(listener);
    }

    // The next key for a box; Key::End when the input ended.
    // A box owns the keyboard from before it is drawn until it is answered, so a key typed as
    // soon as the box shows, or right after another key, is queued for it and never lost.
    void BeginBox() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++activeBoxes_;
        boxKeys_.clear();
    }

    void EndBox() {
        std::lock_guard<std::mutex> lock(mutex_);
        --activeBoxes_;
        boxKeys_.clear();
    }

    KeyPress WaitBoxKey() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !boxKeys_.empty() || eof_; });
        if (boxKeys_.empty()) {
            return {Key::End, 0};
        }
        KeyPress key = boxKeys_.front();
        boxKeys_.pop_front();
        return key;
    }

  private:
    Input() {
        if (::pipe2(wakePipe_, O_CLOEXEC) != 0) {
            wakePipe_[0] = wakePipe_[1] = -1;
        }
    }

    void OpenLocked() {
        if (opened_) {
            return;
        }
        opened_ = true;
        if (::isatty(STDIN_FILENO)) {
            fd_ = STDIN_FILENO;
        } else {
            fd_ = ::open("/dev/tty", O_RDONLY | O_CLOEXEC);
        }
    }

    void EnterRawLocked() {
        InstallRestorers();
        struct termios raw {};
        if (::tcgetattr(fd_, &raw) != 0) {
            return;
        }
        g_savedTermios = raw;
        g_rawFd = fd_;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);  // ISIG stays: Ctrl-C still ends
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        if (::tcsetattr(fd_, TCSAFLUSH, &raw) == 0) {
            g_rawActive = 1;
        }
    }

    // Waits up to `ms` for a byte; false on time-out, end or error.
    bool ReadByte(unsigned char* byte, int ms, bool* ended) {
        struct pollfd fds[2] = {{fd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        int ready = ::poll(fds, wakePipe_[0] >= 0 ? 2 : 1, ms);
        if (ready <= 0) {
            return false;
        }
        if (fds[1].revents & POLLIN) {
            char drain[16];
            ssize_t ignored = ::read(wakePipe_[0], drain, sizeof drain);
            (void)ignored;
            if (!(fds[0].revents & POLLIN)) {
                return false;
            }
        }
        ssize_t n = ::read(fd_, byte, 1);
        if (n == 1) {
            return true;
        }
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
            *ended = true;
        }
        return false;
    }

    // One key: Enter, Esc alone, arrow sequences, Tab, or a plain character.
    KeyPress NextKey(bool* ended) {
        unsigned char byte = 0;
        if (!ReadByte(&byte, -1, ended)) {
            return {};
        }
        if (byte == '\r' || byte == '\n') {
            return {Key::Enter, 0};
        }
        if (byte == '\t') {
            return {Key::Tab, 0};
        }
        if (byte != 0x1b) {
            return {Key::Char, static_cast<char>(byte)};
        }
        unsigned char next = 0;
        bool ignored = false;
        if (!ReadByte(&next, 50, &ignored)) {  // nothing follows at once: the Esc key itself
            return {Key::Escape, 0};
        }
        if (next != '[' && next != 'O') {
            return {};  // Alt with a key: not ours
        }
        unsigned char final = 0;
        while (ReadByte(&final, 50, &ignored)) {  // parameters, then the final byte
            if (final >= 0x40 && final <= 0x7E) {
                break;
            }
        }
        if (final == 'C') {
            return {Key::Right, 0};
        }
        if (final == 'D') {
            return {Key::Left, 0};
        }
        return {};
    }

    void ReadKeys() {
        while (true) {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [this] { return users_ > 0; });
            }
            bool ended = false;
            KeyPress key = NextKey(&ended);
            if (ended) {
                EndInput();
                return;
            }
            if (key.key != Key::None) {
                Dispatch(key);
            }
        }
    }

    void Dispatch(const KeyPress& key) {
        std::function<void(DialogKey)> listener;
        DialogKey dialogKey = DialogKey::Enter;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (activeBoxes_ > 0) {
                boxKeys_.push_back(key);
                changed_.notify_all();
                return;
            }
            if (!dialogListener_ || !ToDialogKey(key, &dialogKey)) {
                return;
            }
            listener = dialogListener_;
        }
        listener(dialogKey);
    }

    static bool ToDialogKey(const KeyPress& key, DialogKey* out) {
        if (key.key == Key::Enter) {
            *out = DialogKey::Enter;
        } else if (key.key == Key::Escape) {
            *out = DialogKey::Escape;
        } else if (key.key == Key::Char && (key.ch == 'q' || key.ch == 'Q')) {
            *out = DialogKey::Quit;
        } else {
            return false;
        }
        return true;
    }

    // The terminal is gone: boxes get no answer, and the dialog is closed rather than left
    // waiting for keys that cannot come.
    void EndInput() {
        std::function<void(DialogKey)> listener;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            eof_ = true;
            listener = dialogListener_;
            changed_.notify_all();
        }
        if (listener) {
            listener(DialogKey::Quit);
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool opened_ = false;
    int fd_ = -1;
    bool eof_ = false;
    int users_ = 0;
    bool readerStarted_ = false;
    int wakePipe_[2] = {-1, -1};
    int activeBoxes_ = 0;
    std::deque<KeyPress> boxKeys_;
    std::function<void(DialogKey)> dialogListener_;
};

// ---- Drawing ----

// Columns a character takes: East Asian wide and full-width forms take two.
int CharWidth(wchar_t c) {
    const auto u = static_cast<uint32_t>(c);
    if (u == 0 || (u >= 0x300 && u <= 0x36F) || u == 0x200B) {
        return 0;
    }
    if ((u >= 0x1100 && u <= 0x115F) || (u >= 0x2E80 && u <= 0xA4CF) ||
        (u >= 0xAC00 && u <= 0xD7A3) || (u >= 0xF900 && u <= 0xFAFF) ||
        (u >= 0xFE30 && u <= 0xFE4F) || (u >= 0xFF00 && u <= 0xFF60) ||
        (u >= 0xFFE0 && u <= 0xFFE6) || (u >= 0x20000 && u <= 0x3FFFD)) {
        return 2;
    }
    return 1;
}

// Cuts text to `columns`, so that no line wraps and the in-place redraw stays aligned.
std::wstring Fit(const std::wstring& text, int columns) {
    std::wstring out;
    int width = 0;
    for (wchar_t c : text) {
        if (c == L'\r' || c == L'\n') {
            c = L' ';
        }
        int w = CharWidth(c);
        if (width + w > columns) {
            break;
        }
        out += c;
        width += w;
    }
    return out;
}

int TerminalColumns() {
    struct winsize size {};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 10) {
        return size.ws_col;
    }
    return 80;
}

// A line of the view: plain text, and the attribute it is shown with.
struct ViewLine {
    std::wstring text;
    const char* style = "";  // ANSI attribute, "" for none
};

std::wstring ProgressBar(const Window& bar, int columns) {
    const int span = std::max(1, bar.rangeMax - bar.rangeMin);
    const int percent = (bar.pos - bar.rangeMin) * 100 / span;
    const int cells = std::max(10, std::min(40, columns - 12));
    const int filled = (bar.pos - bar.rangeMin) * cells / span;
    return L"[" + std::wstring(static_cast<size_t>(filled), L'#') +
           std::wstring(static_cast<size_t>(cells - filled), L'.') + L"] " +
           std::to_wstring(percent) + L"%";
}

// The visible controls, top to bottom; controls that share a row are joined left to right.
std::vector<ViewLine> Layout(const Window& dialog, const std::vector<Window>& controls,
                             int columns) {
    std::vector<ViewLine> lines;
    lines.push_back({L"== " + dialog.text + L" ==", "\x1b[1m"});
    std::vector<const Window*> shown;
    for (const Window& control : controls) {
        if (control.visible) {
            shown.push_back(&control);
        }
    }
    std::stable_sort(shown.begin(), shown.end(), [](const Window* a, const Window* b) {
        return a->y != b->y ? a->y < b->y : a->x < b->x;
    });
    for (size_t i = 0; i < shown.size();) {
        const Window& first = *shown[i];
        if (first.kind == ControlKind::ProgressBar) {
            lines.push_back({L"  " + ProgressBar(first, columns), ""});
            ++i;
            continue;
        }
        if (first.kind == ControlKind::Button) {
            lines.push_back({L"", ""});
            lines.push_back({L"  [ " + first.text + L" ]", first.enabled ? "\x1b[7m" : "\x1b[2m"});
            ++i;
            continue;
        }
        std::wstring row;
        for (; i < shown.size() && shown[i]->y == first.y && shown[i]->kind == ControlKind::Text;
             ++i) {
            row += shown[i]->text;
        }
        if (!row.empty()) {
            lines.push_back({L"  " + row, ""});
        }
    }
    lines.push_back({L"  Enter: 按下按钮   q: 关闭   Esc: 取消", "\x1b[2m"});
    return lines;
}

// The dialog view is drawn on the terminal's alternate screen from its top-left corner, so each
// picture replaces the last one in place even when something else (a library's diagnostics on
// standard error) wrote to the terminal in between.
std::mutex g_drawLock;
bool g_viewActive = false;
bool g_boxShown = false;
std::string g_lastPicture;  // shown again on the normal screen when the view ends

}  // namespace

bool StdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

int AskOnTerminal(const std::wstring& caption, const std::wstring& text,
                  const std::vector<std::string>& answers) {
    static auto* boxLock = new std::mutex();  // one box at a time
    std::lock_guard<std::mutex> oneBox(*boxLock);
    Input& input = Input::Get();
    if (answers.empty() || !input.Acquire()) {
        return -1;
    }
    input.BeginBox();
    static const std::pair<const char*, const char*> kLabels[] = {{"ok", "确定(O)"},
                                                                  {"cancel", "取消(C)"},
                                                                  {"yes", "是(Y)"},
                                                                  {"no", "否(N)"},
                                                                  {"retry", "重试(R)"}};
    auto label = [](const std::string& answer) {
        for (const auto& entry : kLabels) {
            if (answer == entry.first) {
                return std::string(entry.second);
            }
        }
        return answer;
    };
    auto drawButtons = [&](size_t selected) {
        std::string line = "\r\x1b[K  ";
        for (size_t i = 0; i < answers.size(); ++i) {
            line += i == selected ? "\x1b[7m[ " + label(answers[i]) + " ]\x1b[0m  "
                                  : "[ " + label(answers[i]) + " ]  ";
        }
        std::lock_guard<std::mutex> draw(g_drawLock);
        WriteOut(line);
    };
    {
        std::lock_guard<std::mutex> draw(g_drawLock);
        g_boxShown = true;  // the dialog view waits until the box is answered
        WriteOut("\r\n\x1b[1m[" + ToUtf8(caption) + "]\x1b[0m\r\n");
        std::string body = ToUtf8(text);
        size_t pos = 0;
        while ((pos = body.find('\n', pos)) != std::string::npos) {
            body.replace(pos, 1, "\r\n");
            pos += 2;
        }
        WriteOut(body + "\r\n");
    }
    size_t selected = 0;
    int chosen = -1;
    drawButtons(selected);
    while (chosen < 0) {
        KeyPress key = input.WaitBoxKey();
        if (key.key == Key::End) {
            break;
        }
        if (key.key == Key::Enter) {
            chosen = static_cast<int>(selected);
        } else if (key.key == Key::Left) {
            selected = (selected + answers.size() - 1) % answers.size();
        } else if (key.key == Key::Right || key.key == Key::Tab) {
            selected = (selected + 1) % answers.size();
        } else if (key.key == Key::Char) {
            for (size_t i = 0; i < answers.size(); ++i) {
                if (std::tolower(static_cast<unsigned char>(key.ch)) == answers[i][0]) {
                    chosen = static_cast<int>(i);
                }
            }
        }
        drawButtons(chosen >= 0 ? static_cast<size_t>(chosen) : selected);
    }
    {
        std::lock_guard<std::mutex> draw(g_drawLock);
        WriteOut("\r\n");
        g_boxShown = false;
    }
    input.EndBox();
    input.Release();
    std::lock_guard<std::mutex> lock(UiMutex());
    MarkDirtyLocked();  // a dialog view draws itself again below the box
    UiWake().notify_all();
    return chosen;
}

bool BeginTerminalDialog(std::function<void(DialogKey)> onKey) {
    Input& input = Input::Get();
    input.SetDialogListener(std::move(onKey));
    if (!input.Acquire()) {
        input.SetDialogListener(nullptr);
        return false;
    }
    std::lock_guard<std::mutex> draw(g_drawLock);
    g_viewActive = true;
    g_altScreen = 1;
    WriteOut("\x1b[?1049h\x1b[?25l");  // alternate screen, no cursor blinking in the picture
    return true;
}

void DrawTerminalDialog(HWND dialogHandle) {
    Window dialog;
    std::vector<Window> controls;
    {
        std::lock_guard<std::mutex> lock(UiMutex());
        Window* found = FindWindowLocked(dialogHandle);
        if (found == nullptr) {
            return;
        }
        dialog = *found;
        for (HWND child : found->children) {
            if (Window* control = FindWindowLocked(child)) {
                controls.push_back(*control);
            }
        }
    }
    const int columns = TerminalColumns();
    std::vector<ViewLine> lines = Layout(dialog, controls, columns);
    std::string picture;
    std::lock_guard<std::mutex> draw(g_drawLock);
    if (!g_viewActive || g_boxShown) {
        return;
    }
    for (const ViewLine& line : lines) {
        std::string text = ToUtf8(Fit(line.text, columns - 1));
        picture += *line.style ? std::string(line.style) + text + "\x1b[0m" : text;
        picture += "\x1b[K\r\n";
    }
    g_lastPicture = picture;
    WriteOut("\x1b[H" + picture + "\x1b[J");
}

void EndTerminalDialog() {
    Input& input = Input::Get();
    input.SetDialogListener(nullptr);
    {
        std::lock_guard<std::mutex> draw(g_drawLock);
        g_viewActive = false;
        g_altScreen = 0;
        WriteOut("\x1b[?1049l\x1b[?25h" + g_lastPicture);
    }
    input.Release();
}

}  // namespace ui
}  // namespace qx
