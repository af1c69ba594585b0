#include "proxy/proxy_mutex.h"

#include "base/command_line.h"
#include "base/win32.h"

namespace {

constexpr uint64_t kPathHashStart = 0x14650fb0739d0383ull;
constexpr uint64_t kPathHashPrime = 0x100000001b3ull;

}  // namespace

uint64_t HashProxyStatePath(const WideString& path) {
    uint64_t hash = kPathHashStart;
    for (wchar_t unit : path) hash = (hash ^ static_cast<uint16_t>(unit)) * kPathHashPrime;
    return hash;
}

WideString ProxyMutexName(const WideString& path) {
    return L"Local\\KELDRIX-Proxy-" + FormatUnsigned(HashProxyStatePath(path));
}

ProxyMutexLock AcquireProxyMutex(const WideString& path) {
    const WideString name = ProxyMutexName(path);
    UniqueHandleNull mutex(CreateMutexW(nullptr, FALSE, name.c_str()));
    if (!mutex) throw Win32Error{GetLastError()};
    const DWORD waited = WaitForSingleObject(mutex.Get(), kProxyMutexWaitMilliseconds);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) throw Win32Error{ERROR_TIMEOUT};
    return ProxyMutexLock(mutex.Release());
}
