// Window objects of the layer: the dialog and its child controls, their state (text, visibility,
// enabled, progress position), the lock that guards them, and the seams between the window
// functions, the dialog's modal loop, the terminal view and the program's threads.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "win32_posix.h"

namespace qx {
namespace ui {

// What a control is, decided once from its class name when it is made: the classes the program
// creates ("Button", "msctls_progress32"), and text for every other one ("static").
enum class ControlKind { Text, Button, ProgressBar };

struct Window {
    HWND handle = nullptr;
    HWND parent = nullptr;  // the dialog, for a control; null for the dialog itself
    int id = 0;
    std::wstring className;
    ControlKind kind = ControlKind::Text;
    std::wstring text;
    bool visible = false;
    bool enabled = true;
    int pos = 0;  // progress bar: position within [rangeMin, rangeMax]
    int rangeMin = 0;
    int rangeMax = 100;
    HGDIOBJ font = nullptr;
    int x = 0;  // place in the dialog's client area, in pixels (orders the terminal view)
    int y = 0;
    std::vector<HWND> children;  // dialog: its controls in creation order
    DLGPROC proc = nullptr;      // dialog only
};

// One lock guards every window, every dialog queue and the count of program threads;
// UiWake() is notified (with the lock held) after any change that a waiting loop may care about.
std::mutex& UiMutex();
std::condition_variable& UiWake();

// ---- Registry (call with UiMutex held) ----
// Handles are never reused, so a stale handle is refused instead of reaching another window.
HWND AddWindowLocked(std::unique_ptr<Window> window);
Window* FindWindowLocked(HWND hwnd);
Window* FindChildLocked(const Window& dialog, int id);
// The dialog a window belongs to (itself for a dialog), or null.
Window* OwningDialogLocked(HWND hwnd);
// Removes the dialog and its controls.
void RemoveDialogLocked(HWND dialog);
// The dialog's push button: its one control of kind Button.
Window* PushButtonLocked(const Window& dialog);

// ---- Dialog thread ----
// Runs `task` on the thread of the dialog that `hwnd` belongs to and returns true with its result:
// at once when called on that thread, otherwise delivered before the dialog's posted messages, in
// the order the calls came, and waited for. False (ERROR_INVALID_WINDOW_HANDLE) when the window or
// its dialog's loop is gone.
bool CallOnWindowThread(HWND hwnd, const std::function<LRESULT()>& task, LRESULT* result);

// What a control does with a message its dialog thread delivers to it (WM_SETTEXT, PBM_SETPOS,
// WM_SETFONT); 0 for anything else.
LRESULT ControlMessage(HWND control, UINT msg, WPARAM wParam, LPARAM lParam);

// The running dialog (what GetForegroundWindow reports), or null.
HWND ForegroundDialog();
void SetForegroundDialog(HWND dialog);

// Marks the dialog's picture as changed, so the terminal view redraws it (call with the lock).
void MarkDirtyLocked();
bool TakeDirtyLocked();

// ---- Program threads (thread.cpp) ----
// The number of the program's threads still in their routine (call with UiMutex held).
int RunningProgramThreadsLocked();
// At the end of the program: waits for the threads whose routine has returned to end, and lets
// the others go.
void FinishProgramThreads();

}  // namespace ui
}  // namespace qx
