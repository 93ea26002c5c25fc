// The terminal view of the dialog and of message boxes: the dialog's controls laid out as lines
// and drawn in place on the alternate screen, and boxes drawn below it with their buttons, one
// chosen by keys. The view draws; the keys and the terminal's modes are terminal_input's and
// terminal_mode's.
#include "terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cwchar>
#include <mutex>

#include "terminal_mode.h"
#include "transcript.h"

namespace qx {
namespace ui {
namespace {

// ---- Layout ----

// Columns a character takes: East Asian wide and full-width forms take two.
int CharWidth(wchar_t c) {
    // A wchar_t holds a whole code point here; the check takes it for a signed char.
    const auto u = static_cast<uint32_t>(c);  // NOLINT(bugprone-signed-char-misuse)
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

// The bar as solid blocks, filled in eighths of a cell so that it moves with every percent, then
// the percent at a fixed width: "[█████▍          ]  45%".
std::wstring ProgressBar(const Window& bar, int columns) {
    static const wchar_t kPartialCells[] = L" ▏▎▍▌▋▊▉";
    const int64_t span = std::max(1, bar.rangeMax - bar.rangeMin);
    const int64_t offset = std::clamp<int64_t>(int64_t{bar.pos} - bar.rangeMin, 0, span);
    const int cells = std::clamp(columns - 12, 10, 40);
    const auto eighths = static_cast<int>(offset * cells * 8 / span);
    const int full = eighths / 8;
    std::wstring text = L"[" + std::wstring(static_cast<size_t>(full), L'█');
    if (full < cells) {
        text += kPartialCells[eighths % 8];
        text += std::wstring(static_cast<size_t>(cells - full - 1), L' ');
    }
    wchar_t percent[8] = {};
    std::swprintf(percent, 8, L"] %3d%%", static_cast<int>(offset * 100 / span));
    return text + percent;
}

// The visible controls, top to bottom; text controls that share a row are joined left to right.
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

// The lines as the terminal shows them: cut to the width, styled, each clearing the rest of its
// row.
std::string Picture(const std::vector<ViewLine>& lines, int columns) {
    std::string picture;
    for (const ViewLine& line : lines) {
        std::string text = ToUtf8(Fit(line.text, columns - 1));
        picture += *line.style ? std::string(line.style) + text + "\x1b[0m" : text;
        picture += "\x1b[K\r\n";
    }
    return picture;
}

// Copies of the dialog and its controls, taken under the lock so drawing needs none; false when
// the dialog is gone.
bool SnapshotDialog(HWND dialogHandle, Window* dialog, std::vector<Window>* controls) {
    std::lock_guard<std::mutex> lock(UiMutex());
    Window* found = FindWindowLocked(dialogHandle);
    if (found == nullptr) {
        return false;
    }
    *dialog = *found;
    for (HWND child : found->children) {
        if (Window* control = FindWindowLocked(child)) {
            controls->push_back(*control);
        }
    }
    return true;
}

// ---- What is on the screen ----

// The dialog view is drawn on the terminal's alternate screen from its top-left corner, so each
// picture replaces the last one in place even when something else (a library's diagnostics on
// standard error) wrote to the terminal in between.
std::mutex g_drawLock;
bool g_viewActive = false;
bool g_boxShown = false;
std::string g_lastPicture;  // shown again on the normal screen when the view ends

// ---- Message boxes ----

std::string ButtonLabel(const std::string& answer) {
    static const std::pair<const char*, const char*> kLabels[] = {{"ok", "确定(O)"},
                                                                  {"cancel", "取消(C)"},
                                                                  {"yes", "是(Y)"},
                                                                  {"no", "否(N)"},
                                                                  {"retry", "重试(R)"}};
    for (const auto& entry : kLabels) {
        if (answer == entry.first) {
            return entry.second;
        }
    }
    return answer;
}

// Line ends as the raw terminal needs them.
std::string WithCrLf(std::string text) {
    size_t pos = 0;
    while ((pos = text.find('\n', pos)) != std::string::npos) {
        text.replace(pos, 1, "\r\n");
        pos += 2;
    }
    return text;
}

// Draws the box's caption and text below what is on the screen; the dialog view holds its
// pictures back until the box is closed.
void DrawBox(const std::wstring& caption, const std::wstring& text) {
    std::lock_guard<std::mutex> draw(g_drawLock);
    g_boxShown = true;
    WriteToTerminal("\r\n\x1b[1m[" + ToUtf8(caption) + "]\x1b[0m\r\n");
    WriteToTerminal(WithCrLf(ToUtf8(text)) + "\r\n");
}

// Draws the row of buttons over itself, the selected one highlighted.
void DrawBoxButtons(const std::vector<std::string>& answers, size_t selected) {
    std::string line = "\r\x1b[K  ";
    for (size_t i = 0; i < answers.size(); ++i) {
        line += i == selected ? "\x1b[7m[ " + ButtonLabel(answers[i]) + " ]\x1b[0m  "
                              : "[ " + ButtonLabel(answers[i]) + " ]  ";
    }
    std::lock_guard<std::mutex> draw(g_drawLock);
    WriteToTerminal(line);
}

void CloseBox() {
    std::lock_guard<std::mutex> draw(g_drawLock);
    WriteToTerminal("\r\n");
    g_boxShown = false;
}

// Where a box's choice stands: the selected button, and the chosen one once there is one.
struct BoxChoice {
    size_t selected = 0;
    int chosen = -1;
};

// Arrows and Tab move the selection; Enter chooses the selected button, a button's first letter
// chooses that button.
BoxChoice AfterKey(BoxChoice choice, const KeyPress& key, const std::vector<std::string>& answers) {
    if (key.key == Key::Enter) {
        choice.chosen = static_cast<int>(choice.selected);
    } else if (key.key == Key::Left) {
        choice.selected = (choice.selected + answers.size() - 1) % answers.size();
    } else if (key.key == Key::Right || key.key == Key::Tab) {
        choice.selected = (choice.selected + 1) % answers.size();
    } else if (key.key == Key::Char) {
        for (size_t i = 0; i < answers.size(); ++i) {
            if (std::tolower(static_cast<unsigned char>(key.ch)) == answers[i][0]) {
                choice.chosen = static_cast<int>(i);
            }
        }
    }
    return choice;
}

// Reads keys until a button is chosen, showing the selection as it moves; -1 when the input ends
// first.
int ChooseAnswer(const std::vector<std::string>& answers) {
    BoxChoice choice;
    DrawBoxButtons(answers, choice.selected);
    while (choice.chosen < 0) {
        KeyPress key = WaitBoxKey();
        if (key.key == Key::End) {
            break;
        }
        choice = AfterKey(choice, key, answers);
        DrawBoxButtons(answers,
                       choice.chosen >= 0 ? static_cast<size_t>(choice.chosen) : choice.selected);
    }
    return choice.chosen;
}

// A dialog view draws itself again below the box that covered it.
void RedrawDialog() {
    std::lock_guard<std::mutex> lock(UiMutex());
    MarkDirtyLocked();
    UiWake().notify_all();
}

}  // namespace

bool StdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

int AskOnTerminal(const std::wstring& caption, const std::wstring& text,
                  const std::vector<std::string>& answers) {
    static auto* boxLock = new std::mutex();  // one box at a time
    std::lock_guard<std::mutex> oneBox(*boxLock);
    if (answers.empty() || !AcquireKeyboard()) {
        return -1;
    }
    BeginBoxKeys();
    DrawBox(caption, text);
    const int chosen = ChooseAnswer(answers);
    CloseBox();
    EndBoxKeys();
    ReleaseKeyboard();
    RedrawDialog();
    return chosen;
}

bool BeginTerminalDialog(std::function<void(DialogKey)> onKey) {
    SetDialogKeyListener(std::move(onKey));
    if (!AcquireKeyboard()) {
        SetDialogKeyListener(nullptr);
        return false;
    }
    std::lock_guard<std::mutex> draw(g_drawLock);
    g_viewActive = true;
    EnterAlternateScreen();
    return true;
}

void DrawTerminalDialog(HWND dialogHandle) {
    Window dialog;
    std::vector<Window> controls;
    if (!SnapshotDialog(dialogHandle, &dialog, &controls)) {
        return;
    }
    const int columns = TerminalColumns();
    const std::string picture = Picture(Layout(dialog, controls, columns), columns);
    std::lock_guard<std::mutex> draw(g_drawLock);
    if (!g_viewActive || g_boxShown) {
        return;
    }
    g_lastPicture = picture;
    WriteToTerminal("\x1b[H" + picture + "\x1b[J");
}

void EndTerminalDialog() {
    SetDialogKeyListener(nullptr);
    {
        std::lock_guard<std::mutex> draw(g_drawLock);
        g_viewActive = false;
        LeaveAlternateScreen();
        WriteToTerminal(g_lastPicture);
    }
    ReleaseKeyboard();
}

}  // namespace ui
}  // namespace qx
