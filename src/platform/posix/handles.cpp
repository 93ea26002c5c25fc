// The handle registry: a set of live objects, so that a stale or foreign handle is refused
// instead of being dereferenced.
#include "handles.h"

#include <mutex>
#include <unordered_set>

namespace qx {
namespace {

std::mutex g_handlesLock;
std::unordered_set<HandleObject*>& LiveHandles() {
    static auto* live = new std::unordered_set<HandleObject*>();  // outlives static destructors
    return *live;
}

}  // namespace

DWORD HandleObject::Wait(DWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

HANDLE AddHandle(HandleObject* object) {
    std::lock_guard<std::mutex> lock(g_handlesLock);
    LiveHandles().insert(object);
    return object;
}

HandleObject* LookUpHandle(HANDLE handle) {
    std::lock_guard<std::mutex> lock(g_handlesLock);
    auto* object = static_cast<HandleObject*>(handle);
    if (LiveHandles().count(object) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return object;
}

}  // namespace qx

BOOL CloseHandle(HANDLE handle) {
    qx::HandleObject* object = nullptr;
    {
        std::lock_guard<std::mutex> lock(qx::g_handlesLock);
        object = static_cast<qx::HandleObject*>(handle);
        if (qx::LiveHandles().erase(object) == 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    delete object;
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    qx::HandleObject* object = qx::LookUpHandle(handle);
    return object ? object->Wait(milliseconds) : WAIT_FAILED;
}
