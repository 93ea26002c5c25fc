// Window objects and the control functions of user32: creating controls, finding them, their text,
// visibility, enabled state and progress position. State changes run on the dialog's thread
// (marshalled from other threads, as Win32 does) and each change is recorded in the transcript;
// a call that leaves the state as it was (the same text again, say) records nothing.
#include "window.h"

#include <algorithm>
#include <map>
#include <strings.h>

#include "transcript.h"

namespace qx {
namespace ui {
namespace {

struct Registry {
    std::map<uintptr_t, std::unique_ptr<Window>> windows;
    uintptr_t nextHandle = 0x10010;  // never reused; low values look like nothing valid
    HWND foreground = nullptr;
    bool dirty = false;
};

Registry& Windows() {
    static auto* registry = new Registry();  // threads may outlive static destructors
    return *registry;
}

uintptr_t Key(HWND hwnd) {
    return reinterpret_cast<uintptr_t>(hwnd);
}

// Class names compare without regard to case, as Win32 registers them.
ControlKind KindOfClass(const std::wstring& className) {
    const std::string name = ToUtf8(className);
    if (strcasecmp(name.c_str(), "button") == 0) {
        return ControlKind::Button;
    }
    if (strcasecmp(name.c_str(), "msctls_progress32") == 0) {
        return ControlKind::ProgressBar;
    }
    return ControlKind::Text;
}

JsonLine ControlEvent(const Window& control) {
    JsonLine line;
    line.AddString("event", "control").AddNumber("id", control.id);
    return line;
}

// Runs a change of a window's state on its dialog thread; the change gets the window (or null when
// it vanished in between) with the lock held.
LRESULT ChangeWindow(HWND hwnd, LRESULT failed, const std::function<LRESULT(Window&)>& change) {
    LRESULT result = failed;
    bool delivered = CallOnWindowThread(
        hwnd,
        [&]() -> LRESULT {
            std::lock_guard<std::mutex> lock(UiMutex());
            Window* window = FindWindowLocked(hwnd);
            if (window == nullptr) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return failed;
            }
            return change(*window);
        },
        &result);
    return delivered ? result : failed;
}

LRESULT SetTextLocked(Window& window, const wchar_t* text) {
    std::wstring value = text ? text : L"";
    if (window.text == value) {
        return TRUE;
    }
    window.text = value;
    MarkDirtyLocked();
    if (window.parent != nullptr) {
        RecordEvent(ControlEvent(window).AddText("text", value));
    }
    return TRUE;
}

LRESULT SetPosLocked(Window& window, int pos) {
    int previous = window.pos;
    if (pos < window.rangeMin) {
        pos = window.rangeMin;
    }
    if (pos > window.rangeMax) {
        pos = window.rangeMax;
    }
    if (pos != previous) {
        window.pos = pos;
        MarkDirtyLocked();
        RecordEvent(ControlEvent(window).AddNumber("pos", pos));
    }
    return previous;
}

}  // namespace

std::mutex& UiMutex() {
    static auto* mutex = new std::mutex();
    return *mutex;
}

std::condition_variable& UiWake() {
    static auto* wake = new std::condition_variable();
    return *wake;
}

HWND AddWindowLocked(std::unique_ptr<Window> window) {
    Registry& registry = Windows();
    uintptr_t key = registry.nextHandle;
    registry.nextHandle += 0x10;
    window->handle = reinterpret_cast<HWND>(key);
    HWND handle = window->handle;
    if (window->parent != nullptr) {
        if (Window* parent = FindWindowLocked(window->parent)) {
            parent->children.push_back(handle);
        }
    }
    registry.windows[key] = std::move(window);
    MarkDirtyLocked();
    return handle;
}

Window* FindWindowLocked(HWND hwnd) {
    auto& windows = Windows().windows;
    auto it = windows.find(Key(hwnd));
    return it == windows.end() ? nullptr : it->second.get();
}

Window* FindChildLocked(const Window& dialog, int id) {
    for (HWND child : dialog.children) {
        Window* control = FindWindowLocked(child);
        if (control != nullptr && control->id == id) {
            return control;
        }
    }
    return nullptr;
}

Window* OwningDialogLocked(HWND hwnd) {
    Window* window = FindWindowLocked(hwnd);
    if (window != nullptr && window->parent != nullptr) {
        window = FindWindowLocked(window->parent);
    }
    return window;
}

void RemoveDialogLocked(HWND dialog) {
    Registry& registry = Windows();
    Window* window = FindWindowLocked(dialog);
    if (window == nullptr) {
        return;
    }
    for (HWND child : window->children) {
        registry.windows.erase(Key(child));
    }
    registry.windows.erase(Key(dialog));
}

Window* PushButtonLocked(const Window& dialog) {
    for (HWND child : dialog.children) {
        Window* control = FindWindowLocked(child);
        if (control != nullptr && control->kind == ControlKind::Button) {
            return control;
        }
    }
    return nullptr;
}

HWND ForegroundDialog() {
    std::lock_guard<std::mutex> lock(UiMutex());
    return Windows().foreground;
}

void SetForegroundDialog(HWND dialog) {
    std::lock_guard<std::mutex> lock(UiMutex());
    Windows().foreground = dialog;
}

void MarkDirtyLocked() {
    Windows().dirty = true;
}

bool TakeDirtyLocked() {
    bool dirty = Windows().dirty;
    Windows().dirty = false;
    return dirty;
}

LRESULT ControlMessage(HWND control, UINT msg, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::mutex> lock(UiMutex());
    Window* window = FindWindowLocked(control);
    if (window == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    switch (msg) {
        case WM_SETTEXT:
            return SetTextLocked(*window, reinterpret_cast<const wchar_t*>(lParam));
        case WM_SETFONT:
            window->font = reinterpret_cast<HGDIOBJ>(wParam);
            return 0;
        case PBM_SETPOS:
            return window->kind == ControlKind::ProgressBar
                       ? SetPosLocked(*window, static_cast<int>(wParam))
                       : 0;
        default:
            return 0;
    }
}

}  // namespace ui
}  // namespace qx

using qx::ui::Window;

// Creates a child control of a dialog (the only kind of window the program creates); the control
// is made on the dialog's thread and its whole initial state is recorded.
HWND CreateWindowExW(DWORD, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X, int Y,
                     int, int, HWND hWndParent, HMENU hMenu, HINSTANCE, LPVOID) {
    if (hWndParent == nullptr || lpClassName == nullptr) {
        SetLastError(hWndParent == nullptr ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto control = std::make_unique<Window>();
    control->parent = hWndParent;
    control->id = static_cast<int>(reinterpret_cast<intptr_t>(hMenu));
    control->className = lpClassName;
    control->kind = qx::ui::KindOfClass(control->className);
    control->text = lpWindowName ? lpWindowName : L"";
    control->visible = (dwStyle & WS_VISIBLE) != 0;
    control->enabled = (dwStyle & WS_DISABLED) == 0;
    control->x = X;
    control->y = Y;

    LRESULT created = 0;
    bool delivered = qx::ui::CallOnWindowThread(
        hWndParent,
        [&]() -> LRESULT {
            std::lock_guard<std::mutex> lock(qx::ui::UiMutex());
            Window* parent = qx::ui::FindWindowLocked(hWndParent);
            if (parent == nullptr || parent->parent != nullptr) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return 0;
            }
            qx::ui::RecordEvent(qx::ui::JsonLine()
                                    .AddString("event", "create")
                                    .AddNumber("id", control->id)
                                    .AddText("class", control->className)
                                    .AddText("text", control->text)
                                    .AddBool("visible", control->visible)
                                    .AddBool("enabled", control->enabled));
            return reinterpret_cast<LRESULT>(qx::ui::AddWindowLocked(std::move(control)));
        },
        &created);
    return delivered ? reinterpret_cast<HWND>(created) : nullptr;
}

HWND GetDlgItem(HWND hDlg, int nIDDlgItem) {
    std::lock_guard<std::mutex> lock(qx::ui::UiMutex());
    Window* dialog = qx::ui::FindWindowLocked(hDlg);
    if (dialog == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    Window* control = qx::ui::FindChildLocked(*dialog, nIDDlgItem);
    if (control == nullptr) {
        SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
        return nullptr;
    }
    return control->handle;
}

BOOL SetWindowTextW(HWND hWnd, LPCWSTR lpString) {
    return SendMessageW(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)) ? TRUE : FALSE;
}

// Reads the text directly (no message): safe from any thread, also while the dialog is busy.
int GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount) {
    std::lock_guard<std::mutex> lock(qx::ui::UiMutex());
    Window* window = qx::ui::FindWindowLocked(hWnd);
    if (lpString != nullptr && nMaxCount > 0) {
        lpString[0] = L'\0';
    }
    if (window == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (lpString == nullptr || nMaxCount <= 0) {
        return 0;
    }
    size_t count = std::min(window->text.size(), static_cast<size_t>(nMaxCount - 1));
    window->text.copy(lpString, count);
    lpString[count] = L'\0';
    return static_cast<int>(count);
}

// Returns whether the window was visible before; records the change of a control.
BOOL ShowWindow(HWND hWnd, int nCmdShow) {
    const bool show = nCmdShow != SW_HIDE;
    return static_cast<BOOL>(qx::ui::ChangeWindow(hWnd, FALSE, [show](Window& window) -> LRESULT {
        const bool was = window.visible;
        if (was != show) {
            window.visible = show;
            qx::ui::MarkDirtyLocked();
            if (window.parent != nullptr) {
                qx::ui::RecordEvent(qx::ui::ControlEvent(window).AddBool("visible", show));
            }
        }
        return was ? TRUE : FALSE;
    }));
}

// Returns whether the window was disabled before; records the change of a control.
BOOL EnableWindow(HWND hWnd, BOOL bEnable) {
    const bool enable = bEnable != FALSE;
    return static_cast<BOOL>(qx::ui::ChangeWindow(hWnd, FALSE, [enable](Window& window) -> LRESULT {
        const bool wasDisabled = !window.enabled;
        if (window.enabled != enable) {
            window.enabled = enable;
            qx::ui::MarkDirtyLocked();
            if (window.parent != nullptr) {
                qx::ui::RecordEvent(qx::ui::ControlEvent(window).AddBool("enabled", enable));
            }
        }
        return wasDisabled ? TRUE : FALSE;
    }));
}

// Visible when the window and its dialog are visible, as Win32 counts it.
BOOL IsWindowVisible(HWND hWnd) {
    std::lock_guard<std::mutex> lock(qx::ui::UiMutex());
    Window* window = qx::ui::FindWindowLocked(hWnd);
    if (window == nullptr || !window->visible) {
        return FALSE;
    }
    Window* dialog = qx::ui::OwningDialogLocked(hWnd);
    return dialog != nullptr && dialog->visible ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND hWnd) {
    std::lock_guard<std::mutex> lock(qx::ui::UiMutex());
    Window* window = qx::ui::FindWindowLocked(hWnd);
    return window != nullptr && window->enabled ? TRUE : FALSE;
}
