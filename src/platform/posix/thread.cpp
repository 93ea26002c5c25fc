// CreateThread over std::thread. The handle is a waitable object signalled when the thread
// returns; closing it detaches nothing (the thread is detached from the start) and kills nothing.
// The layer counts the program's running threads: a scripted dialog closes itself once none runs.
#include <atomic>
#include <chrono>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "handles.h"
#include "window.h"

namespace qx {
namespace ui {
namespace {

int g_runningThreads = 0;  // guarded by UiMutex()

// What the thread and its handles share; it outlives whichever of them ends last.
struct ThreadState {
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
    DWORD exitCode = 0;
};

// Every thread the program started, kept joinable so that the end of the program can wait for the
// ones whose routine has returned: they only have their thread-local clean-up left (libcurl's TLS
// library frees its per-thread state there), which the process must not cut short.
struct StartedThread {
    StartedThread(std::thread started, std::shared_ptr<ThreadState> shared)
        : thread(std::move(started)), state(std::move(shared)) {}
    StartedThread(StartedThread&&) = default;
    StartedThread& operator=(StartedThread&&) = default;
    // A program that ends without FinishProgramThreads (a test program) lets its threads go.
    ~StartedThread() {
        if (thread.joinable()) {
            thread.detach();
        }
    }
    std::thread thread;
    std::shared_ptr<ThreadState> state;
};
std::mutex g_startedLock;
std::vector<StartedThread> g_started;  // guarded by g_startedLock

class ThreadHandle : public HandleObject {
  public:
    explicit ThreadHandle(std::shared_ptr<ThreadState> state) : state_(std::move(state)) {}

    DWORD Wait(DWORD milliseconds) override {
        std::unique_lock<std::mutex> lock(state_->lock);
        auto done = [this] { return state_->done; };
        if (milliseconds == INFINITE) {
            state_->ended.wait(lock, done);
            return WAIT_OBJECT_0;
        }
        return state_->ended.wait_for(lock, std::chrono::milliseconds(milliseconds), done)
                   ? WAIT_OBJECT_0
                   : WAIT_TIMEOUT;
    }

  private:
    std::shared_ptr<ThreadState> state_;
};

void RunProgramThread(LPTHREAD_START_ROUTINE start, LPVOID parameter,
                      const std::shared_ptr<ThreadState>& state) {
    DWORD code = start(parameter);
    {
        std::lock_guard<std::mutex> lock(state->lock);
        state->done = true;
        state->exitCode = code;
    }
    state->ended.notify_all();
    std::lock_guard<std::mutex> lock(UiMutex());
    --g_runningThreads;
    UiWake().notify_all();
}

}  // namespace

int RunningProgramThreadsLocked() {
    return g_runningThreads;
}

void FinishProgramThreads() {
    std::lock_guard<std::mutex> lock(g_startedLock);
    for (StartedThread& started : g_started) {
        bool done = false;
        {
            std::lock_guard<std::mutex> stateLock(started.state->lock);
            done = started.state->done;
        }
        // A thread still in its routine is left to end with the process, as on Windows.
        if (done) {
            started.thread.join();
        } else {
            started.thread.detach();
        }
    }
    g_started.clear();
}

}  // namespace ui
}  // namespace qx

// Starts the thread at once (creation flags are not supported beyond 0) and returns its handle.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES, size_t, LPTHREAD_START_ROUTINE lpStartAddress,
                    LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId) {
    if (lpStartAddress == nullptr || dwCreationFlags != 0) {
        SetLastError(lpStartAddress == nullptr ? ERROR_INVALID_PARAMETER : ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    static std::atomic<DWORD> s_nextThreadId{1};
    auto state = std::make_shared<qx::ui::ThreadState>();
    {
        std::lock_guard<std::mutex> lock(qx::ui::UiMutex());
        ++qx::ui::g_runningThreads;
    }
    try {
        std::lock_guard<std::mutex> lock(qx::ui::g_startedLock);
        qx::ui::g_started.emplace_back(
            std::thread(qx::ui::RunProgramThread, lpStartAddress, lpParameter, state), state);
    } catch (const std::system_error&) {
        std::lock_guard<std::mutex> lock(qx::ui::UiMutex());
        --qx::ui::g_runningThreads;
        qx::ui::UiWake().notify_all();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (lpThreadId != nullptr) {
        *lpThreadId = s_nextThreadId++;
    }
    return qx::AddHandle(std::make_shared<qx::ui::ThreadHandle>(state));
}
