#pragma once

#include <cstdint>

#include "base/text.h"
#include "base/unique_resource.h"
#include "base/win32.h"

// FNV-1a over the path's UTF-16 units as written (no case folding or normalisation),
// from the start value 0x14650fb0739d0383.
uint64_t HashProxyStatePath(const WideString& path);

// "Local\KELDRIX-Proxy-" and the path's hash in decimal: one mutex per proxy state file.
WideString ProxyMutexName(const WideString& path);

inline void ReleaseAndCloseMutex(HANDLE mutex) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

// Ownership of the proxy mutex: released, then closed, when the holder goes out of scope.
using ProxyMutexLock = UniqueResource<HANDLE, ReleaseAndCloseMutex, NullHandleValue>;

inline constexpr DWORD kProxyMutexWaitMilliseconds = 15000;

// Waits up to 15 s for the path's mutex; one abandoned by a holder that died is taken over.
// Throws Win32Error: the creation error, or 1460 (ERROR_TIMEOUT) when the wait does not succeed.
ProxyMutexLock AcquireProxyMutex(const WideString& path);
