#include "proxy/proxy_commands.h"

#include <cwchar>
#include <string>

#include "base/command_line.h"
#include "base/file_by_handle.h"
#include "base/local_path.h"
#include "base/process.h"
#include "base/unique_resource.h"
#include "base/win32.h"
#include "proxy/proxy_logon_restore.h"
#include "proxy/proxy_mutex.h"
#include "proxy/proxy_restore.h"
#include "proxy/proxy_settings.h"
#include "proxy/proxy_snapshot.h"
#include "proxy/proxy_snapshot_record.h"

namespace {

const char* JsonBoolean(bool value) { return value ? "true" : "false"; }

constexpr uint32_t kLowestPort = 1024;
constexpr uint32_t kHighestPort = 65535;
constexpr wchar_t kLocalProxyPrefix[] = L"127.0.0.1:";
constexpr wchar_t kLocalBypassList[] = L"<local>;localhost;127.*;[::1]";
// "--snapshot-id" for every live snapshot of the user at once.
constexpr wchar_t kEverySnapshot[] = L"all";

// A state path that the helper does not work on: the usage exit code, with the error line.
struct RefusedStatePath {
    Win32Error code;
};

// How many names the file at the path has; 0 when it cannot be opened (nothing is there).
DWORD LinkCountAt(const WideString& path) {
    const UniqueHandleFile file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file || !GetFileInformationByHandle(file.Get(), &information)) return 0;
    return information.nNumberOfLinks;
}

bool IsEnablePortText(const WideString& text) {
    if (text.empty() || text.size() > 5 || text[0] == L'0') return false;
    uint32_t port = 0;
    for (wchar_t unit : text) {
        if (unit < L'0' || unit > L'9') return false;
        port = port * 10 + static_cast<uint32_t>(unit - L'0');
    }
    return port >= kLowestPort && port <= kHighestPort;
}

uint32_t ReadPort(const OptionMap& options) {
    const WideString& text = options.Get(L"--port");
    return text.empty() ? 0 : ParseUnsigned32(text);
}

// Names that the lock of one file cannot cover: a stream of a file, and a file with other names.
void RefuseUnlockableStatePath(const WideString& snapshotPath) {
    const WideString full = FullPath(snapshotPath);
    if (NamesAStream(full.empty() ? snapshotPath : full)) throw RefusedStatePath{ERROR_BAD_PATHNAME};
    // Under the file's lock, as every other open of it: a handle held outside it keeps a file
    // that another helper deletes in view (delete pending), to be read or deleted again.
    const ProxyMutexLock lock = AcquireProxyMutex(snapshotPath);
    if (LinkCountAt(snapshotPath) > 1) throw RefusedStatePath{ERROR_TOO_MANY_LINKS};
}

// What an enable saves as the user's: the settings in force, unless they are a helper's proxy;
// then those that the live snapshot behind it saved (SettingsToKeep).
ProxySettings UserSettingsToSave(const SnapshotRecord& record, const ProxySettings& current) {
    return SettingsToKeep(current, IsHelperAppliedSettings(current)
                                       ? UserSettingsBehindHelperProxy(record, current.proxyServer)
                                       : std::nullopt);
}

// The file first, verified, then the record; a file whose record cannot be written goes again.
void SaveSnapshot(const WideString& snapshotPath, const ProxySnapshot& snapshot, SnapshotRecord& record) {
    WriteProxySnapshot(snapshotPath, snapshot);
    record.push_back(LiveSnapshot{ResolvedProxyStatePath(snapshotPath), snapshot});
    try {
        CommitSnapshotRecord(record);
    } catch (Win32Error) {
        DeleteFileW(snapshotPath.c_str());
        throw;
    }
}

// The user's settings reach the disk, verified, and the record, before anything changes; a
// snapshot that exists already (or anything else at the path) is never replaced, and a helper's
// proxy found in force is never saved as the user's.
void SwitchToLocalProxy(const WideString& snapshotPath, const WideString& localProxyAddress) {
    const ProxyMutexLock lock = AcquireProxyMutex(snapshotPath);
    if (SnapshotExists(snapshotPath)) throw Win32Error{ERROR_ALREADY_EXISTS};
    const ProxyMutexLock settingsLock = AcquireProxySettingsLock();
    SnapshotRecord record = ReadSnapshotRecord();
    const ProxySettings current = QueryProxySettings();
    DropGoneSnapshots(record, current);
    const ProxySettings user = UserSettingsToSave(record, current);
    const ProxySnapshot snapshot{user.flags,         localProxyAddress, user.proxyServer, user.bypassList,
                                 user.autoConfigUrl, NewSnapshotId()};
    SaveSnapshot(snapshotPath, snapshot, record);
    RegisterLogonRestore(*snapshot.id);
    ApplyProxySettings(EnableProxySettings(localProxyAddress));
}

uint32_t Restore(const OptionMap& options, const WideString& snapshotPath) {
    const WideString& idText = options.Get(L"--snapshot-id");
    if (idText == kEverySnapshot) {
        RestoreEverySnapshot();
        return 0;
    }
    SnapshotChoice choice;
    if (!idText.empty()) {
        choice.id = ParseSnapshotId(idText);
        if (!choice.id) choice.earlierFile = ParseEarlierSnapshotId(idText);
        if (!choice.id && (!choice.earlierFile || snapshotPath.empty())) return kUsageExitCode;
    }
    if (!snapshotPath.empty()) RefuseUnlockableStatePath(snapshotPath);
    RestoreProxyFromState(snapshotPath, WideString(), choice);
    return 0;
}

uint32_t RunChecked(const WideString& verb, const OptionMap& options, const WideString& snapshotPath) {
    if (verb == L"--proxy-restore") return Restore(options, snapshotPath);
    const uint32_t port = ReadPort(options);
    const WideString localProxyAddress = LocalProxyAddress(port);
    const bool enabling = verb == L"--proxy-enable";
    if (enabling) {
        if (port < kLowestPort || port > kHighestPort) return kUsageExitCode;
        RefuseUnlockableStatePath(snapshotPath);
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

bool NamesAStream(const WideString& fullPath) {
    WideString rest = fullPath;
    for (const wchar_t* prefix : {L"\\\\?\\", L"\\\\.\\"}) {
        if (rest.starts_with(prefix)) rest = rest.substr(wcslen(prefix));
    }
    const bool drive = rest.size() >= 2 && rest[1] == L':' &&
                       ((rest[0] >= L'A' && rest[0] <= L'Z') || (rest[0] >= L'a' && rest[0] <= L'z'));
    return rest.find(L':', drive ? 2 : 0) != WideString::npos;
}

uint32_t RunProxyCommand(const WideString& verb, const OptionMap& options) {
    const WideString snapshotPath = options.Get(L"--state");
    // A restore of a snapshot named by its id finds its file in the record.
    const bool byId = verb == L"--proxy-restore" && !options.Get(L"--snapshot-id").empty();
    if (snapshotPath.empty() && !byId) return kUsageExitCode;
    try {
        return RunChecked(verb, options, snapshotPath);
    } catch (RefusedStatePath refused) {
        WriteStandardOutput(BuildProxyErrorLine(refused.code));
        return kUsageExitCode;
    } catch (Win32Error code) {
        WriteStandardOutput(BuildProxyErrorLine(code));
        return 1;
    }
}
