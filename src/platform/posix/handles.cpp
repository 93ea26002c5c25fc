// The handle registry: the live objects by handle, so that a stale or foreign handle is refused
// instead of being dereferenced.
#include "handles.h"

#include <mutex>
#include <unordered_map>

namespace qx {
namespace {

struct Registry {
    std::mutex lock;
    std::unordered_map<HANDLE, std::shared_ptr<HandleObject>> live;
};

Registry& Handles() {
    static auto* registry = new Registry();  // outlives static destructors
    return *registry;
}

}  // namespace

DWORD HandleObject::Wait(DWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

HANDLE AddHandle(std::shared_ptr<HandleObject> object) {
    HANDLE handle = object.get();
    Registry& registry = Handles();
    std::lock_guard<std::mutex> lock(registry.lock);
    registry.live.emplace(handle, std::move(object));
    return handle;
}

std::shared_ptr<HandleObject> LookUpHandle(HANDLE handle) {
    Registry& registry = Handles();
    std::lock_guard<std::mutex> lock(registry.lock);
    auto it = registry.live.find(handle);
    if (it == registry.live.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second;
}

}  // namespace qx

// The object itself ends outside the lock: its destructor may close files or reap a child.
BOOL CloseHandle(HANDLE handle) {
    std::shared_ptr<qx::HandleObject> object;
    {
        qx::Registry& registry = qx::Handles();
        std::lock_guard<std::mutex> lock(registry.lock);
        auto it = registry.live.find(handle);
        if (it == registry.live.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        object = std::move(it->second);
        registry.live.erase(it);
    }
    return TRUE;
}

// The wait holds its own share of the object, so a CloseHandle meanwhile cannot free it.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    std::shared_ptr<qx::HandleObject> object = qx::LookUpHandle(handle);
    return object ? object->Wait(milliseconds) : WAIT_FAILED;
}
