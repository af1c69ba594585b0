#include "proxy/proxy_commands.h"

#include <string>

#include "base/command_line.h"
#include "base/file_io.h"
#include "base/process.h"
#include "base/win32.h"
#include "proxy/proxy_logon_restore.h"
#include "proxy/proxy_mutex.h"
#include "proxy/proxy_settings.h"
#include "proxy/proxy_snapshot.h"

namespace {

const char* JsonBoolean(bool value) { return value ? "true" : "false"; }

constexpr uint32_t kLowestPort = 1024;
constexpr uint32_t kHighestPort = 65535;
constexpr wchar_t kLocalProxyPrefix[] = L"127.0.0.1:";
constexpr wchar_t kLocalBypassList[] = L"<local>;localhost;127.*;[::1]";

bool IsEnablePortText(const WideString& text) {
    if (text.empty() || text.size() > 5 || text[0] == L'0') return false;
    uint32_t port = 0;
    for (wchar_t unit : text) {
        if (unit < L'0' || unit > L'9') return false;
        port = port * 10 + static_cast<uint32_t>(unit - L'0');
    }
    return port >= kLowestPort && port <= kHighestPort;
}

ProxySettings SavedUserSettings(const ProxySnapshot& snapshot) {
    return ProxySettings{snapshot.flags, snapshot.proxyServer, snapshot.bypassList, snapshot.autoConfigUrl};
}

// The user's settings saved by the snapshot of another proxy state file whose helper proxy is
// `proxyServer`: found through the logon restores registered beside every snapshot.
std::optional<ProxySettings> RecordOfHelperProxy(const WideString& proxyServer, const WideString& ownPath) {
    const WideString ownValue = LogonRestoreValueName(ProxyStatePathHash(ownPath));
    for (const RegisteredSnapshot& registered : RegisteredSnapshots()) {
        if (registered.valueName == ownValue) continue;
        try {
            const ProxySnapshot snapshot = ReadProxySnapshot(registered.statePath);
            if (snapshot.appliedProxyServer == proxyServer) return SavedUserSettings(snapshot);
        } catch (Win32Error) {
            // Gone or unreadable: it accounts for nothing.
        }
    }
    return std::nullopt;
}

uint32_t ReadPort(const OptionMap& options) {
    const WideString& text = options.Get(L"--port");
    return text.empty() ? 0 : ParseUnsigned32(text);
}

// Only a path that is not there means no snapshot: one that cannot be looked at (access
// refused, held by a scanner) may hold the user's settings, and is reported.
bool SnapshotExists(const WideString& snapshotPath) {
    const DWORD error = LookAtPath(snapshotPath);
    if (error == ERROR_FILE_NOT_FOUND) return false;
    if (error != ERROR_SUCCESS) throw Win32Error{error};
    return true;
}

// The user's settings reach the disk, verified, and the logon restore is registered, before
// anything changes; a snapshot that exists already (or anything else at the path) is never
// replaced, and a helper's proxy found in force is never saved as the user's.
void SwitchToLocalProxy(const WideString& snapshotPath, const WideString& localProxyAddress) {
    const ProxyMutexLock lock = AcquireProxyMutex(snapshotPath);
    if (SnapshotExists(snapshotPath)) throw Win32Error{ERROR_ALREADY_EXISTS};
    const ProxyMutexLock settingsLock = AcquireProxySettingsLock();
    const ProxySettings current = QueryProxySettings();
    const ProxySettings user = SettingsToKeep(
        current, IsHelperAppliedSettings(current) ? RecordOfHelperProxy(current.proxyServer, snapshotPath)
                                                  : std::nullopt);
    WriteProxySnapshot(snapshotPath, ProxySnapshot{user.flags, localProxyAddress, user.proxyServer, user.bypassList,
                                                user.autoConfigUrl});
    if (const std::optional<FileIdentity> written = IdentityAt(snapshotPath)) {
        RegisterLogonRestore(snapshotPath, *written);
    }
    ApplyProxySettings(EnableProxySettings(localProxyAddress));
}

uint32_t Restore(const OptionMap& options, const WideString& snapshotPath) {
    const WideString& snapshotId = options.Get(L"--snapshot-id");
    std::optional<FileIdentity> onlySnapshot;
    if (!snapshotId.empty()) {
        onlySnapshot = ParseSnapshotId(snapshotId);
        if (!onlySnapshot) return kUsageExitCode;
    }
    RestoreProxyFromState(snapshotPath, WideString(), onlySnapshot);
    return 0;
}

uint32_t RunChecked(const WideString& verb, const OptionMap& options, const WideString& snapshotPath) {
    if (verb == L"--proxy-restore") return Restore(options, snapshotPath);
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

WideString LocalProxyAddress(uint32_t port) { return kLocalProxyPrefix + FormatUnsigned(port); }

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

void RestoreProxyFromState(const WideString& snapshotPath, const WideString& expectedProxy,
                           const std::optional<FileIdentity>& onlySnapshot) {
    const ProxyMutexLock lock = AcquireProxyMutex(snapshotPath);
    if (!SnapshotExists(snapshotPath)) {
        RemoveLogonRestore(snapshotPath);
        return;
    }
    // A later connection's snapshot at the same path is not the one asked for.
    if (onlySnapshot && IdentityAt(snapshotPath) != onlySnapshot) return;
    const ProxySnapshot saved = ReadProxySnapshot(snapshotPath);
    if (!expectedProxy.empty() && expectedProxy != saved.appliedProxyServer) return;
    const ProxyMutexLock settingsLock = AcquireProxySettingsLock();
    const ProxySettings current = QueryProxySettings();
    const bool ours = current.proxyServer == saved.appliedProxyServer;
    // A helper's proxy whose own snapshot is lost would otherwise stay in force with nothing
    // serving it: the settings saved here are the best record of the user's left.
    const bool orphaned = !ours && IsHelperAppliedSettings(current) &&
                          !RecordOfHelperProxy(current.proxyServer, snapshotPath);
    if (ours || orphaned) {
        ApplyProxySettings(ProxySettings{FlagsToRestore(saved.flags, current.flags), saved.proxyServer,
                                         saved.bypassList, saved.autoConfigUrl});
    }
    if (!DeleteFileW(snapshotPath.c_str())) throw Win32Error{GetLastError()};
    RemoveLogonRestore(snapshotPath);
}

ProxySettings EnableProxySettings(const WideString& localProxyAddress) {
    return ProxySettings{kProxyTypeDirect | kProxyTypeProxy, localProxyAddress, kLocalBypassList, WideString()};
}

bool IsHelperAppliedSettings(const ProxySettings& settings) {
    const WideString prefix = kLocalProxyPrefix;
    return settings.bypassList == kLocalBypassList && settings.proxyServer.starts_with(prefix) &&
           IsEnablePortText(settings.proxyServer.substr(prefix.size()));
}

ProxySettings SettingsToKeep(const ProxySettings& current, const std::optional<ProxySettings>& recordOfHelperProxy) {
    if (!IsHelperAppliedSettings(current)) return current;
    if (recordOfHelperProxy) return *recordOfHelperProxy;
    const uint32_t direct = (current.flags & ~kProxyTypeProxy) | kProxyTypeDirect;
    return ProxySettings{direct, WideString(), WideString(), current.autoConfigUrl};
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
