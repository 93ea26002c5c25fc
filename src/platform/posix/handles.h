// Kernel objects of the layer. Every HANDLE the layer hands out points at a HandleObject, so
// CloseHandle and WaitForSingleObject can serve files, processes, threads, mutexes and snapshots
// alike without knowing where they were made.
#pragma once

#include <memory>

#include "win32_posix.h"

namespace qx {

class HandleObject {
  public:
    HandleObject() = default;
    HandleObject(const HandleObject&) = delete;
    HandleObject& operator=(const HandleObject&) = delete;
    virtual ~HandleObject() = default;

    // Waits until the object is signalled or the time-out passes: WAIT_OBJECT_0, WAIT_TIMEOUT,
    // or WAIT_FAILED with the last error set (objects that cannot be waited on).
    virtual DWORD Wait(DWORD milliseconds);
};

// Registers a new object and returns its handle. The registry shares the object with whoever
// looked it up: CloseHandle drops the registry's share, and the object ends when the last call
// still using it (a wait on another thread) returns.
HANDLE AddHandle(std::shared_ptr<HandleObject> object);

// The object behind a handle the layer made, or null (with ERROR_INVALID_HANDLE) for anything else.
std::shared_ptr<HandleObject> LookUpHandle(HANDLE handle);

// The same, of one kind only.
template <typename T>
std::shared_ptr<T> LookUpHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookUpHandle(handle));
}

}  // namespace qx
