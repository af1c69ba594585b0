#pragma once

#include "base/win32.h"

// Owns one kernel handle and closes it when it goes out of scope.
// `Invalid` is the value that means "no handle" for the API that produced it.
template <HANDLE (*Invalid)()>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        Reset(other.Release());
        return *this;
    }
    ~UniqueHandle() { Reset(); }

    HANDLE Get() const { return handle_; }
    bool IsValid() const { return handle_ != Invalid(); }
    explicit operator bool() const { return IsValid(); }

    HANDLE Release() {
        HANDLE handle = handle_;
        handle_ = Invalid();
        return handle;
    }
    void Reset(HANDLE handle = Invalid()) {
        if (IsValid()) CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_ = Invalid();
};

inline HANDLE NullHandleValue() { return nullptr; }
inline HANDLE InvalidHandleValue() { return INVALID_HANDLE_VALUE; }

// Process, thread, job, mutex and pipe handles: null means none.
using UniqueHandleNull = UniqueHandle<NullHandleValue>;
// File handles from CreateFileW: INVALID_HANDLE_VALUE means none.
using UniqueHandleFile = UniqueHandle<InvalidHandleValue>;
