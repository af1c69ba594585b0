#include "launch/guard.h"

#include "base/number_conversion.h"
#include "base/unique_resource.h"
#include "base/win32.h"
#include "proxy/proxy_restore.h"

namespace {

constexpr uint32_t kCoreNotOpened = 1;

// Whatever ended the wait, the user's proxy comes back and the core's configuration goes.
void CleanUp(OptionMap& options) {
    const WideString& statePath = options.Get(L"--state");
    if (!statePath.empty()) {
        const WideString& expectedProxy = options.Get(L"--expected-proxy");
        try {
            RestoreProxyFromState(statePath, expectedProxy);
        } catch (...) {
            // Nobody is left to tell; the configuration is deleted all the same.
        }
    }
    DeleteFileW(options.Get(L"--config").c_str());
}

}  // namespace

uint32_t RunGuard(OptionMap& options) {
    // Both ids are converted before either process is opened: a "--core" that does not convert
    // must not leave the client's handle behind.
    const uint32_t clientId = ParseUnsigned32(options.Get(L"--parent"));
    const uint32_t coreId = ParseUnsigned32(options.Get(L"--core"));
    UniqueHandleNull client(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, clientId));
    UniqueHandleNull core(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, coreId));
    if (!core) return kCoreNotOpened;
    if (!client) {
        TerminateProcess(core.Get(), 0);
    } else {
        const HANDLE watched[] = {client.Get(), core.Get()};
        if (WaitForMultipleObjects(2, watched, FALSE, INFINITE) == WAIT_OBJECT_0) TerminateProcess(core.Get(), 0);
    }
    // Both handles are closed before the proxy is restored.
    client.Reset();
    core.Reset();
    CleanUp(options);
    return 0;
}
