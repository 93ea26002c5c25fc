// Owners for what product code opens through win32.h: kernel handles, directory searches and C
// runtime streams. Each closes what it holds on every way out of a scope and cannot be copied, so
// an early return never leaks; close() reports the result where a caller needs it (a stream's
// last buffered write can fail at its close).
#pragma once

#include <cstdio>

#include "platform/win32.h"

// Holds one value of Traits::Value and closes it with Traits::Close unless it is invalid. Close is
// usually static; a Traits whose Close needs state (a close call chosen at run time, as tests
// substitute one) is handed to the constructor and travels with the value.
template <typename Traits>
class UniqueResource : private Traits {
  public:
    using Value = typename Traits::Value;

    UniqueResource() = default;
    explicit UniqueResource(Value value, const Traits& traits = Traits())
        : Traits(traits), value_(value) {}
    ~UniqueResource() { reset(); }
    UniqueResource(UniqueResource&& other) noexcept : Traits(other), value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            reset(other.release());
            Traits::operator=(other);
        }
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    bool valid() const { return Traits::IsValid(value_); }
    explicit operator bool() const { return valid(); }
    Value get() const { return value_; }

    // Gives the value up without closing it.
    Value release() {
        const Value value = value_;
        value_ = Traits::Invalid();
        return value;
    }
    // Closes the held value (if any) and takes the new one.
    void reset(Value value = Traits::Invalid()) {
        if (valid()) {
            Traits::Close(value_);
        }
        value_ = value;
    }
    // Closes now; false when there was nothing to close or closing failed.
    bool close() {
        if (!valid()) {
            return false;
        }
        return Traits::Close(release());
    }

  private:
    Value value_ = Traits::Invalid();
};

// Process, thread, mutex and file handles. OpenProcess reports failure as null, CreateFileW as
// INVALID_HANDLE_VALUE: neither is ever closed.
struct KernelHandleTraits {
    using Value = HANDLE;
    static Value Invalid() { return nullptr; }
    static bool IsValid(Value handle) {
        return handle != nullptr && handle != INVALID_HANDLE_VALUE;
    }
    static bool Close(Value handle) { return CloseHandle(handle) != FALSE; }
};

// FindFirstFileW searches.
struct FindHandleTraits {
    using Value = HANDLE;
    static Value Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Value handle) { return handle != INVALID_HANDLE_VALUE; }
    static bool Close(Value handle) { return FindClose(handle) != FALSE; }
};

// _wfopen / fopen streams.
struct StreamTraits {
    using Value = FILE*;
    static Value Invalid() { return nullptr; }
    static bool IsValid(Value file) { return file != nullptr; }
    static bool Close(Value file) { return fclose(file) == 0; }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;
using FindHandle = UniqueResource<FindHandleTraits>;
using UniqueFile = UniqueResource<StreamTraits>;
