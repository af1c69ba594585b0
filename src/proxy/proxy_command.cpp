#include "proxy/proxy_command.h"

#include "base/command_line.h"
#include "base/process.h"
#include "base/win32.h"
#include "proxy/proxy_mutex.h"
#include "proxy/proxy_output_json.h"
#include "proxy/proxy_restore.h"
#include "proxy/proxy_snapshot_file.h"
#include "proxy/proxy_status.h"

namespace {

constexpr uint32_t kLowestPort = 1024;
constexpr uint32_t kHighestPort = 65535;
constexpr wchar_t kLocalBypassList[] = L"<local>;localhost;127.*;[::1]";

uint32_t ReadPort(OptionMap& options) {
    const WideString& text = options.Get(L"--port");
    return text.empty() ? 0 : ParseUnsigned32(text);
}

// The user's settings reach the disk, verified, before anything changes; a snapshot that
// exists already (or anything else at the path) is never replaced.
void SwitchToLocalProxy(const WideString& statePath, const WideString& localProxyAddress) {
    const ProxyMutexLock lock = AcquireProxyMutex(statePath);
    if (GetFileAttributesW(statePath.c_str()) != INVALID_FILE_ATTRIBUTES) throw Win32Error{ERROR_ALREADY_EXISTS};
    const ProxySettings user = QueryProxySettings();
    WriteProxySnapshot(statePath, ProxySnapshot{user.flags, localProxyAddress, user.proxyServer, user.bypassList,
                                                user.autoConfigUrl});
    ApplyProxySettings(EnableProxySettings(localProxyAddress));
}

uint32_t RunChecked(const WideString& verb, OptionMap& options, const WideString& statePath) {
    if (verb == L"--proxy-restore") {
        RestoreProxyFromState(statePath, WideString());
        return 0;
    }
    const uint32_t port = ReadPort(options);
    const WideString localProxyAddress = LocalProxyAddress(port);
    const bool enabling = verb == L"--proxy-enable";
    if (enabling) {
        if (port < kLowestPort || port > kHighestPort) return kUsageExitCode;
        SwitchToLocalProxy(statePath, localProxyAddress);
    }
    const ProxyStatusWords words = ReportProxyStatus(localProxyAddress);
    if (!enabling) return 0;
    return LocalProxyAloneInForce(words) ? 0 : 1;
}

}  // namespace

ProxySettings EnableProxySettings(const WideString& localProxyAddress) {
    return ProxySettings{kProxyTypeDirect | kProxyTypeProxy, localProxyAddress, kLocalBypassList, WideString()};
}

uint32_t RunProxyCommand(const WideString& verb, OptionMap& options) {
    const WideString statePath = options.Get(L"--state");
    if (statePath.empty()) return kUsageExitCode;
    try {
        return RunChecked(verb, options, statePath);
    } catch (Win32Error code) {
        WriteStandardOutput(BuildProxyErrorLine(code));
        return 1;
    }
}
