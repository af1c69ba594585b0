#include "proxy/proxy_commands.h"

#include <string>

#include "base/command_line.h"
#include "base/process.h"
#include "base/win32.h"
#include "proxy/proxy_mutex.h"
#include "proxy/proxy_settings.h"
#include "proxy/proxy_snapshot.h"

namespace {

const char* JsonBoolean(bool value) { return value ? "true" : "false"; }

constexpr uint32_t kLowestPort = 1024;
constexpr uint32_t kHighestPort = 65535;
constexpr wchar_t kLocalBypassList[] = L"<local>;localhost;127.*;[::1]";

uint32_t ReadPort(const OptionMap& options) {
    const WideString& text = options.Get(L"--port");
    return text.empty() ? 0 : ParseUnsigned32(text);
}

// Only a path that is not there means no snapshot: one that cannot be looked at (access
// refused, held by a scanner) may hold the user's settings, and is reported.
bool SnapshotExists(const WideString& snapshotPath) {
    if (GetFileAttributesW(snapshotPath.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return false;
    throw Win32Error{error};
}

// The user's settings reach the disk, verified, before anything changes; a snapshot that
// exists already (or anything else at the path) is never replaced.
void SwitchToLocalProxy(const WideString& snapshotPath, const WideString& localProxyAddress) {
    const ProxyMutexLock lock = AcquireProxyMutex(snapshotPath);
    if (SnapshotExists(snapshotPath)) throw Win32Error{ERROR_ALREADY_EXISTS};
    const ProxySettings user = QueryProxySettings();
    WriteProxySnapshot(snapshotPath, ProxySnapshot{user.flags, localProxyAddress, user.proxyServer, user.bypassList,
                                                user.autoConfigUrl});
    ApplyProxySettings(EnableProxySettings(localProxyAddress));
}

uint32_t RunChecked(const WideString& verb, const OptionMap& options, const WideString& snapshotPath) {
    if (verb == L"--proxy-restore") {
        RestoreProxyFromState(snapshotPath, WideString());
        return 0;
    }
    const uint32_t port = ReadPort(options);
    const WideString localProxyAddress = LocalProxyAddress(port);
    const bool enabling = verb == L"--proxy-enable";
    if (enabling) {
        if (port < kLowestPort || port > kHighestPort) return kUsageExitCode;
        SwitchToLocalProxy(snapshotPath, localProxyAddress);
    }
    const ProxyStatusWords words = ReportProxyStatus(localProxyAddress);
    if (!enabling) return 0;
    return LocalProxyAloneInForce(words) ? 0 : 1;
}

}  // namespace

ByteString BuildProxyStatusLine(const ProxyStatusWords& words) {
    return ByteString("{\"component\":\"proxy\",\"stage\":\"proxy-status\",\"proxyEnabled\":") +
           JsonBoolean(words.proxyEnabled) + ",\"proxyMatches\":" + JsonBoolean(words.proxyMatches) +
           ",\"pacEnabled\":" + JsonBoolean(words.pacEnabled) + ",\"autoDetect\":" + JsonBoolean(words.autoDetect) +
           "}";
}

ByteString BuildProxyErrorLine(Win32Error code) {
    return "{\"component\":\"proxy\",\"stage\":\"proxy-error\",\"code\":\"PROXY_CONFIG_ERROR\",\"win32\":" +
           std::to_string(static_cast<uint32_t>(code)) + "}";
}

WideString LocalProxyAddress(uint32_t port) { return L"127.0.0.1:" + FormatUnsigned(port); }

ProxyStatusWords EvaluateProxyStatus(const ProxySettings& current, const WideString& localProxyAddress) {
    return ProxyStatusWords{
        (current.flags & kProxyTypeProxy) != 0,
        current.proxyServer == localProxyAddress,
        (current.flags & kProxyTypeAutoProxyUrl) != 0,
        (current.flags & kProxyTypeAutoDetect) != 0,
    };
}

bool LocalProxyAloneInForce(const ProxyStatusWords& words) {
    return words.proxyEnabled && words.proxyMatches && !words.pacEnabled && !words.autoDetect;
}

ProxyStatusWords ReportProxyStatus(const WideString& localProxyAddress) {
    const ProxyStatusWords words = EvaluateProxyStatus(QueryProxySettings(), localProxyAddress);
    WriteStandardOutput(BuildProxyStatusLine(words));
    return words;
}

uint32_t FlagsToRestore(uint32_t savedFlags, uint32_t currentFlags) {
    if ((savedFlags & kSnapshotKeepCurrentAutoDetect) == 0) return savedFlags;
    return (savedFlags & ~kSnapshotKeepCurrentAutoDetect) | (currentFlags & kProxyTypeAutoDetect);
}

void RestoreProxyFromState(const WideString& snapshotPath, const WideString& expectedProxy) {
    const ProxyMutexLock lock = AcquireProxyMutex(snapshotPath);
    if (!SnapshotExists(snapshotPath)) return;
    const ProxySnapshot saved = ReadProxySnapshot(snapshotPath);
    if (!expectedProxy.empty() && expectedProxy != saved.appliedProxyServer) return;
    const ProxySettings current = QueryProxySettings();
    if (current.proxyServer == saved.appliedProxyServer) {
        ApplyProxySettings(ProxySettings{FlagsToRestore(saved.flags, current.flags), saved.proxyServer,
                                         saved.bypassList, saved.autoConfigUrl});
    }
    if (!DeleteFileW(snapshotPath.c_str())) throw Win32Error{GetLastError()};
}

ProxySettings EnableProxySettings(const WideString& localProxyAddress) {
    return ProxySettings{kProxyTypeDirect | kProxyTypeProxy, localProxyAddress, kLocalBypassList, WideString()};
}

uint32_t RunProxyCommand(const WideString& verb, const OptionMap& options) {
    const WideString snapshotPath = options.Get(L"--state");
    if (snapshotPath.empty()) return kUsageExitCode;
    try {
        return RunChecked(verb, options, snapshotPath);
    } catch (Win32Error code) {
        WriteStandardOutput(BuildProxyErrorLine(code));
        return 1;
    }
}
