// The handle registry: an object stays alive while a wait on it is under way, even when another
// thread closes its handle meanwhile, and a closed handle is refused afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/posix/handles.h"
#include "platform/win32.h"

namespace {

// Lets a test hold a wait inside the object until it chooses to end it.
struct Latch {
    std::mutex lock;
    std::condition_variable changed;
    bool waiting = false;
    bool released = false;
    std::atomic<bool> destroyed{false};
};

class LatchObject : public qx::HandleObject {
  public:
    explicit LatchObject(Latch* latch) : latch_(latch) {}
    ~LatchObject() override { latch_->destroyed = true; }

    DWORD Wait(DWORD) override {
        std::unique_lock<std::mutex> lock(latch_->lock);
        latch_->waiting = true;
        latch_->changed.notify_all();
        latch_->changed.wait(lock, [this] { return latch_->released; });
        return WAIT_OBJECT_0;
    }

  private:
    Latch* latch_;
};

TEST(Handles, AWaitUnderWayKeepsItsObjectAliveWhenAnotherThreadClosesTheHandle) {
    Latch latch;
    HANDLE handle = qx::AddHandle(std::make_shared<LatchObject>(&latch));
    DWORD waited = 0;
    std::thread waiter([&] { waited = WaitForSingleObject(handle, INFINITE); });
    {
        std::unique_lock<std::mutex> lock(latch.lock);
        latch.changed.wait(lock, [&] { return latch.waiting; });
    }

    EXPECT_TRUE(CloseHandle(handle));
    EXPECT_FALSE(latch.destroyed);  // the wait still uses it
    {
        std::lock_guard<std::mutex> lock(latch.lock);
        latch.released = true;
    }
    latch.changed.notify_all();
    waiter.join();
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), waited);
    EXPECT_TRUE(latch.destroyed);

    EXPECT_EQ(static_cast<DWORD>(WAIT_FAILED), WaitForSingleObject(handle, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_FALSE(CloseHandle(handle));
}

}  // namespace
