// Event objects: CreateEventW and SetEvent over a mutex and a condition variable, waited on with
// WaitForSingleObject like the layer's other kernel objects. Unnamed events only, which is all the
// program makes (one thread lets another go on).
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "handles.h"

namespace qx {
namespace {

class EventHandle : public HandleObject {
  public:
    EventHandle(bool manualReset, bool signalled)
        : manualReset_(manualReset), signalled_(signalled) {}

    void Set() {
        {
            std::lock_guard<std::mutex> lock(lock_);
            signalled_ = true;
        }
        changed_.notify_all();
    }

    // An auto-reset event lets one waiter through and is reset by it, as on Windows.
    DWORD Wait(DWORD milliseconds) override {
        std::unique_lock<std::mutex> lock(lock_);
        auto signalled = [this] { return signalled_; };
        if (milliseconds == INFINITE) {
            changed_.wait(lock, signalled);
        } else if (!changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), signalled)) {
            return WAIT_TIMEOUT;
        }
        if (!manualReset_) {
            signalled_ = false;
        }
        return WAIT_OBJECT_0;
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    const bool manualReset_;
    bool signalled_;
};

}  // namespace
}  // namespace qx

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName) {
    if (lpName != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return qx::AddHandle(
        std::make_shared<qx::EventHandle>(bManualReset != FALSE, bInitialState != FALSE));
}

BOOL SetEvent(HANDLE hEvent) {
    const std::shared_ptr<qx::EventHandle> event = qx::LookUpHandleAs<qx::EventHandle>(hEvent);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->Set();
    return TRUE;
}
