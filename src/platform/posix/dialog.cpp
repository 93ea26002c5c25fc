// The modal dialog: DialogBoxParamW and its loop, the dialog's message queues, SendMessageW,
// PostMessageW, GetQueueStatus and EndDialog. As on Windows, a message sent from another thread is
// delivered before any posted message still waiting, however long that one has waited. The loop
// never spins: it sleeps on UiWake() until a message, a key, a change of the program's threads or
// EndDialog arrives. In scripted mode (QXWEB_DIALOG, or no terminal) the loop also plays the
// script's actions when the queue is empty.
#include <deque>
#include <map>
#include <thread>

#include "resources.h"
#include "script.h"
#include "terminal.h"
#include "transcript.h"
#include "window.h"

namespace qx {
namespace ui {
namespace {

// A call from another thread waiting for the dialog thread.
struct PendingCall {
    bool done = false;
    bool delivered = false;
    LRESULT result = 0;
};

struct QueueItem {
    std::function<void()> run;            // on the dialog thread, without the lock
    std::shared_ptr<PendingCall> caller;  // set for calls from other threads
};

struct DialogRun {
    HWND dialog = nullptr;
    std::thread::id thread;
    std::deque<QueueItem> sent;   // calls from other threads, each waited for by its caller
    std::deque<QueueItem> queue;  // posted messages and keys
    bool ended = false;
    bool closed = false;  // the loop is over: nothing more is accepted
    INT_PTR result = 0;
};

// The scripted actions of one dialog and how far they got.
struct Script {
    bool terminal = false;  // keys drive the dialog instead of a script
    std::vector<DialogAction> actions;
    size_t next = 0;
    bool closeSent = false;
};

std::map<HWND, std::shared_ptr<DialogRun>>& Runs() {
    static auto* runs = new std::map<HWND, std::shared_ptr<DialogRun>>();
    return *runs;
}

std::shared_ptr<DialogRun> RunOfLocked(HWND hwnd) {
    Window* dialog = OwningDialogLocked(hwnd);
    if (dialog == nullptr) {
        return nullptr;
    }
    auto it = Runs().find(dialog->handle);
    return it == Runs().end() ? nullptr : it->second;
}

LRESULT DeliverToDialog(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);

// The dialog manager's defaults for what the procedure leaves unhandled.
LRESULT DialogDefault(HWND dialog, UINT msg, LPARAM lParam) {
    if (msg == WM_CLOSE) {
        HWND cancel = nullptr;
        {
            std::lock_guard<std::mutex> lock(UiMutex());
            Window* window = FindWindowLocked(dialog);
            Window* button = window ? FindChildLocked(*window, IDCANCEL) : nullptr;
            cancel = button ? button->handle : nullptr;
        }
        DeliverToDialog(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                        reinterpret_cast<LPARAM>(cancel));
    } else if (msg == WM_SETTEXT) {
        std::lock_guard<std::mutex> lock(UiMutex());
        if (Window* window = FindWindowLocked(dialog)) {
            auto* text = reinterpret_cast<const wchar_t*>(lParam);
            window->text = text ? text : L"";
            MarkDirtyLocked();
        }
        return TRUE;
    }
    return 0;
}

LRESULT DeliverToDialog(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    DLGPROC proc = nullptr;
    {
        std::lock_guard<std::mutex> lock(UiMutex());
        Window* window = FindWindowLocked(dialog);
        proc = window ? window->proc : nullptr;
    }
    if (proc == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    INT_PTR handled = proc(dialog, msg, wParam, lParam);
    if (handled == FALSE) {
        return DialogDefault(dialog, msg, lParam);
    }
    return handled;
}

// A message to a window, on its dialog's thread: the procedure for the dialog, the control's own
// handling for a control.
LRESULT Deliver(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    bool isDialog = false;
    {
        std::lock_guard<std::mutex> lock(UiMutex());
        Window* window = FindWindowLocked(hwnd);
        if (window == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        isDialog = window->parent == nullptr;
    }
    return isDialog ? DeliverToDialog(hwnd, msg, wParam, lParam)
                    : ControlMessage(hwnd, msg, wParam, lParam);
}

// Queues work for the dialog thread of `hwnd`; false when that dialog no longer runs.
bool QueueForWindowLocked(HWND hwnd, QueueItem item) {
    std::shared_ptr<DialogRun> run = RunOfLocked(hwnd);
    if (run == nullptr || run->closed) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    run->queue.push_back(std::move(item));
    UiWake().notify_all();
    return true;
}

void ClickButton(HWND dialog) {
    HWND button = nullptr;
    int id = 0;
    {
        std::lock_guard<std::mutex> lock(UiMutex());
        Window* window = FindWindowLocked(dialog);
        Window* push = window ? PushButtonLocked(*window) : nullptr;
        if (push == nullptr || !push->enabled || !push->visible) {
            return;
        }
        button = push->handle;
        id = push->id;
    }
    DeliverToDialog(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                    reinterpret_cast<LPARAM>(button));
}

enum class Step { Wait, Press, Close };

// What the script does next, decided with the lock held and the queue empty.
Step NextScriptStepLocked(const DialogRun& run, Script& script) {
    if (script.terminal) {
        return Step::Wait;
    }
    const bool idle = RunningProgramThreadsLocked() == 0;
    if (script.next < script.actions.size()) {
        if (script.actions[script.next] == DialogAction::Close) {
            ++script.next;
            return Step::Close;
        }
        Window* dialog = FindWindowLocked(run.dialog);
        Window* button = dialog ? PushButtonLocked(*dialog) : nullptr;
        if (button != nullptr && button->enabled && button->visible) {
            // Like a person, the script clicks the settled dialog: a program thread that has just
            // enabled the button may still be changing its text and the panel.
            if (!idle) {
                return Step::Wait;
            }
            ++script.next;
            return Step::Press;
        }
        if (!idle) {
            return Step::Wait;
        }
        script.next = script.actions.size();  // the press can never happen: the script ends
    }
    if (idle && !script.closeSent) {
        script.closeSent = true;
        return Step::Close;
    }
    return Step::Wait;
}

bool NothingWaiting(const DialogRun& run) {
    return run.sent.empty() && run.queue.empty();
}

// Sent messages first, then the posted ones in their order, as GetMessage retrieves them.
QueueItem TakeNext(DialogRun& run) {
    std::deque<QueueItem>& from = run.sent.empty() ? run.queue : run.sent;
    QueueItem item = std::move(from.front());
    from.pop_front();
    return item;
}

// The terminal picture is redrawn when the queue has drained, and at least every few messages
// while a stream of them keeps it busy, so progress floods do not flood the terminal.
constexpr int kMessagesPerRedraw = 32;

void RunModalLoop(DialogRun& run, Script& script) {
    std::unique_lock<std::mutex> lock(UiMutex());
    int sinceRedraw = 0;
    while (!run.ended) {
        Step step = Step::Wait;
        QueueItem item;
        if (script.terminal && (NothingWaiting(run) || sinceRedraw >= kMessagesPerRedraw)) {
            sinceRedraw = 0;
            if (TakeDirtyLocked()) {
                lock.unlock();
                DrawTerminalDialog(run.dialog);
                lock.lock();
                continue;
            }
        }
        if (!NothingWaiting(run)) {
            item = TakeNext(run);
            ++sinceRedraw;
        } else {
            step = NextScriptStepLocked(run, script);
            if (step == Step::Wait) {
                UiWake().wait(lock);
                continue;
            }
        }
        lock.unlock();
        if (item.run) {
            item.run();
        } else if (step == Step::Press) {
            ClickButton(run.dialog);
        } else {
            DeliverToDialog(run.dialog, WM_CLOSE, 0, 0);
        }
        lock.lock();
    }
}

// After the loop: callers still waiting get their calls back undelivered, posted messages drop.
void CloseRunLocked(DialogRun& run) {
    run.closed = true;
    for (QueueItem& item : run.sent) {
        item.caller->done = true;
    }
    run.sent.clear();
    run.queue.clear();
    UiWake().notify_all();
}

void PostKey(HWND dialog, DialogKey key) {
    std::function<void()> action;
    switch (key) {
        case DialogKey::Enter:
            action = [dialog] { ClickButton(dialog); };
            break;
        case DialogKey::Quit:
            action = [dialog] { DeliverToDialog(dialog, WM_CLOSE, 0, 0); };
            break;
        case DialogKey::Escape:
            action = [dialog] {
                DeliverToDialog(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            };
            break;
    }
    std::lock_guard<std::mutex> lock(UiMutex());
    QueueForWindowLocked(dialog, QueueItem{std::move(action), nullptr});
}

// Scripted when QXWEB_DIALOG is set; drawn on the terminal when stdout is one; otherwise the
// behaviour of a used-up script.
Script ChooseScript(HWND dialog) {
    Script script;
    if (ReadDialogScript(&script.actions)) {
        return script;
    }
    if (StdoutIsTerminal() &&
        BeginTerminalDialog([dialog](DialogKey key) { PostKey(dialog, key); })) {
        script.terminal = true;
    }
    return script;
}

HWND CreateDialogWindow(const DialogTemplate& dialogTemplate, DLGPROC proc,
                        std::shared_ptr<DialogRun>* run) {
    auto window = std::make_unique<Window>();
    window->className = L"#32770";
    window->text = dialogTemplate.caption;
    window->proc = proc;
    std::lock_guard<std::mutex> lock(UiMutex());
    HWND dialog = AddWindowLocked(std::move(window));
    *run = std::make_shared<DialogRun>();
    (*run)->dialog = dialog;
    (*run)->thread = std::this_thread::get_id();
    Runs()[dialog] = *run;
    return dialog;
}

void SetDialogVisible(HWND dialog) {
    std::lock_guard<std::mutex> lock(UiMutex());
    if (Window* window = FindWindowLocked(dialog)) {
        window->visible = true;
        MarkDirtyLocked();
    }
}

void DestroyDialog(HWND dialog) {
    std::lock_guard<std::mutex> lock(UiMutex());
    RemoveDialogLocked(dialog);
    Runs().erase(dialog);
}

void RecordDialog(const char* action, const std::wstring& caption) {
    RecordEvent(JsonLine()
                    .AddString("event", "dialog")
                    .AddString("action", action)
                    .AddText("caption", caption));
}

}  // namespace

bool CallOnWindowThread(HWND hwnd, const std::function<LRESULT()>& task, LRESULT* result) {
    std::unique_lock<std::mutex> lock(UiMutex());
    std::shared_ptr<DialogRun> run = RunOfLocked(hwnd);
    if (run != nullptr && run->thread == std::this_thread::get_id()) {
        lock.unlock();  // the dialog's own thread, also while it is being destroyed
        *result = task();
        return true;
    }
    if (run == nullptr || run->closed) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    auto caller = std::make_shared<PendingCall>();
    const std::function<LRESULT()>* work =
        &task;  // the caller waits, so the task outlives the call
    QueueItem item{[work, caller] {
                       LRESULT value = (*work)();
                       std::lock_guard<std::mutex> guard(UiMutex());
                       caller->result = value;
                       caller->delivered = true;
                       caller->done = true;
                       UiWake().notify_all();
                   },
                   caller};
    run->sent.push_back(std::move(item));
    UiWake().notify_all();
    UiWake().wait(lock, [&] { return caller->done; });
    if (!caller->delivered) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    *result = caller->result;
    return true;
}

}  // namespace ui
}  // namespace qx

using namespace qx::ui;

// Runs the registered template `lpTemplateName` (an integer resource id) modally and returns the
// value given to EndDialog, or -1 when the template or the procedure is missing.
INT_PTR DialogBoxParamW(HINSTANCE, LPCWSTR lpTemplateName, HWND, DLGPROC lpDialogFunc,
                        LPARAM dwInitParam) {
    qx::DialogTemplate dialogTemplate;
    const auto resource = reinterpret_cast<ULONG_PTR>(lpTemplateName);
    if (lpDialogFunc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if ((resource >> 16) != 0 ||
        !qx::FindDialogTemplate(static_cast<int>(resource), &dialogTemplate)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return -1;
    }
    std::shared_ptr<DialogRun> run;
    HWND dialog = CreateDialogWindow(dialogTemplate, lpDialogFunc, &run);
    HWND previousForeground = ForegroundDialog();
    SetForegroundDialog(dialog);
    RecordDialog("open", dialogTemplate.caption);

    Script script = ChooseScript(dialog);
    lpDialogFunc(dialog, WM_INITDIALOG, 0, dwInitParam);
    SetDialogVisible(dialog);
    if (!run->ended) {
        DeliverToDialog(dialog, WM_PAINT, 0, 0);
    }
    RunModalLoop(*run, script);
    {
        std::lock_guard<std::mutex> lock(UiMutex());
        CloseRunLocked(*run);
    }
    if (script.terminal) {
        EndTerminalDialog();
    }
    RecordDialog("close", dialogTemplate.caption);
    lpDialogFunc(dialog, WM_DESTROY, 0, 0);
    DestroyDialog(dialog);
    SetForegroundDialog(previousForeground);
    return run->result;
}

BOOL EndDialog(HWND hDlg, INT_PTR nResult) {
    std::lock_guard<std::mutex> lock(UiMutex());
    auto it = Runs().find(hDlg);
    if (it == Runs().end() || it->second->closed) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!it->second->ended) {
        it->second->ended = true;
        it->second->result = nResult;
    }
    UiWake().notify_all();
    return TRUE;
}

// The modal loop ends with EndDialog alone; the program posts its quit only while the dialog is
// being destroyed, when no loop is left to read it.
void PostQuitMessage(int) {}

LRESULT SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (!CallOnWindowThread(
            hWnd, [&]() -> LRESULT { return Deliver(hWnd, Msg, wParam, lParam); }, &result)) {
        return 0;
    }
    return result;
}

// Queues the message behind those already waiting. A message that carries a pointer the receiver
// would read after the sender moved on (WM_SETTEXT) is refused, as Win32 refuses it.
BOOL PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (Msg == WM_SETTEXT) {
        SetLastError(ERROR_MESSAGE_SYNC_ONLY);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(UiMutex());
    QueueItem item{[hWnd, Msg, wParam, lParam] { Deliver(hWnd, Msg, wParam, lParam); }, nullptr};
    return QueueForWindowLocked(hWnd, std::move(item)) ? TRUE : FALSE;
}

DWORD GetQueueStatus(UINT flags) {
    std::lock_guard<std::mutex> lock(UiMutex());
    UINT waiting = 0;
    for (const auto& entry : Runs()) {
        const DialogRun& run = *entry.second;
        if (run.thread == std::this_thread::get_id() && !run.closed) {
            waiting |=
                (run.sent.empty() ? 0 : QS_SENDMESSAGE) | (run.queue.empty() ? 0 : QS_POSTMESSAGE);
        }
    }
    waiting &= flags;
    return static_cast<DWORD>(MAKELONG(waiting, waiting));
}
