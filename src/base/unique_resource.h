#pragma once

#include "base/win32.h"

// Owns one resource and frees it when it goes out of scope. `Free` is the function that
// frees it; `Invalid` gives the value that means "none" for the API that produced it.
template <typename Resource, auto Free, auto Invalid>
class UniqueResource {
public:
    UniqueResource() = default;
    explicit UniqueResource(Resource resource) : resource_(resource) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : resource_(other.Release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        Reset(other.Release());
        return *this;
    }
    ~UniqueResource() { Reset(); }

    Resource Get() const { return resource_; }
    bool IsValid() const { return resource_ != Invalid(); }
    explicit operator bool() const { return IsValid(); }

    Resource Release() {
        Resource resource = resource_;
        resource_ = Invalid();
        return resource;
    }
    void Reset(Resource resource = Invalid()) {
        if (IsValid()) Free(resource_);
        resource_ = resource;
    }
    // For an API that hands the resource out through a pointer: frees what is held, then gives
    // the place for the new one.
    Resource* Put() {
        Reset();
        return &resource_;
    }

private:
    Resource resource_ = Invalid();
};

inline HANDLE NullHandleValue() { return nullptr; }
inline HANDLE InvalidHandleValue() { return INVALID_HANDLE_VALUE; }
inline void CloseKernelHandle(HANDLE handle) { CloseHandle(handle); }

// Process, thread, job, mutex, token and pipe handles: null means none.
using UniqueHandleNull = UniqueResource<HANDLE, CloseKernelHandle, NullHandleValue>;
// File handles from CreateFileW: INVALID_HANDLE_VALUE means none.
using UniqueHandleFile = UniqueResource<HANDLE, CloseKernelHandle, InvalidHandleValue>;

inline void CloseFindHandle(HANDLE search) { FindClose(search); }
// Directory searches from FindFirstFileW: INVALID_HANDLE_VALUE means none.
using UniqueFindHandle = UniqueResource<HANDLE, CloseFindHandle, InvalidHandleValue>;

inline void FreeLocalMemory(HLOCAL memory) { LocalFree(memory); }
// Memory that the system allocated for the caller with LocalAlloc (security descriptors, say).
using UniqueLocalMemory = UniqueResource<HLOCAL, FreeLocalMemory, NullHandleValue>;

inline void CloseRegistryKey(HKEY key) { RegCloseKey(key); }
inline HKEY NoRegistryKey() { return nullptr; }
// Registry keys from RegOpenKeyExW and RegCreateKeyExW: null means none.
using UniqueRegistryKey = UniqueResource<HKEY, CloseRegistryKey, NoRegistryKey>;
