// CreateThread over std::thread. The handle is a waitable object signalled when the thread
// returns; closing it detaches nothing (the thread is detached from the start) and kills nothing.
// The layer counts the program's running threads: a scripted dialog closes itself once none runs.
#include <atomic>
#include <chrono>
#include <memory>
#include <system_error>
#include <thread>

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
        std::thread(qx::ui::RunProgramThread, lpStartAddress, lpParameter, state).detach();
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
