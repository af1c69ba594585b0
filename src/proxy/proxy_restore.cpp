#include "proxy/proxy_restore.h"

#include "base/win32.h"
#include "proxy/proxy_mutex.h"
#include "proxy/proxy_settings.h"
#include "proxy/proxy_snapshot_file.h"

uint32_t FlagsToRestore(uint32_t savedFlags, uint32_t currentFlags) {
    if ((savedFlags & kSnapshotKeepCurrentAutoDetect) == 0) return savedFlags;
    return (savedFlags & ~kSnapshotKeepCurrentAutoDetect) | (currentFlags & kProxyTypeAutoDetect);
}

void RestoreProxyFromState(const WideString& statePath, const WideString& expectedProxy) {
    const ProxyMutexLock lock = AcquireProxyMutex(statePath);
    if (GetFileAttributesW(statePath.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    const ProxySnapshot saved = ReadProxySnapshot(statePath);
    if (!expectedProxy.empty() && expectedProxy != saved.appliedProxyServer) return;
    const ProxySettings current = QueryProxySettings();
    if (current.proxyServer == saved.appliedProxyServer) {
        ApplyProxySettings(ProxySettings{FlagsToRestore(saved.flags, current.flags), saved.proxyServer,
                                         saved.bypassList, saved.autoConfigUrl});
    }
    if (!DeleteFileW(statePath.c_str())) throw Win32Error{GetLastError()};
}
