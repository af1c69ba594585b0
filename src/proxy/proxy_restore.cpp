#include "proxy/proxy_restore.h"

#include "base/file_by_handle.h"
#include "base/win32.h"
#include "proxy/proxy_commands.h"
#include "proxy/proxy_logon_restore.h"
#include "proxy/proxy_mutex.h"

namespace {

// One file, however each path reaches it: the key its lock is named from.
bool IsSameStateFile(const WideString& left, const WideString& right) {
    return ProxyStateFileKey(left) == ProxyStateFileKey(right);
}

// Gone: nothing at its path, or a file that is not it. One that cannot be looked at may be it.
bool FileIsGone(const LiveSnapshot& live) {
    try {
        return SnapshotIdAt(live.statePath) != live.snapshot.id;
    } catch (Win32Error) {
        return false;
    }
}

// An earlier version registered its snapshots only with their logon restores; once nothing is
// left at the path, its value there has nothing to restore.
void RemoveEarlierLogonRestoresOf(const WideString& snapshotPath) {
    for (const EarlierLogonRestore& value : EarlierLogonRestores()) {
        if (IsSameStateFile(value.statePath, snapshotPath)) RemoveEarlierLogonRestore(value);
    }
}

// Under both locks. `file`, when given, is where the snapshot's own file lies, deleted after.
void RestoreSnapshot(const ProxySnapshot& saved, const WideString* file) {
    SnapshotRecord record = ReadSnapshotRecord();
    ProxySettings inForce = QueryProxySettings();
    const bool ours = inForce.proxyServer == saved.appliedProxyServer;
    // A helper's proxy whose own snapshot is lost would otherwise stay in force with nothing
    // serving it: the settings saved here are the user's, as every snapshot over it saved them.
    const bool orphaned = !ours && IsHelperAppliedSettings(inForce) &&
                          !UserSettingsBehindHelperProxy(record, inForce.proxyServer);
    if (ours || orphaned) {
        inForce = ProxySettings{FlagsToRestore(saved.flags, inForce.flags), saved.proxyServer, saved.bypassList,
                                saved.autoConfigUrl};
        ApplyProxySettings(inForce);
    }
    if (file && !DeleteFileW(file->c_str())) throw Win32Error{GetLastError()};
    std::erase_if(record, [&](const LiveSnapshot& live) { return saved.id && live.snapshot.id == saved.id; });
    DropGoneSnapshots(record, inForce);
    CommitSnapshotRecord(record);
}

// Under the settings lock, with nothing to restore: the snapshots that are gone still leave the
// record. With none live, the settings need not be looked at.
void TidySnapshotRecord() {
    SnapshotRecord record = ReadSnapshotRecord();
    if (!record.empty()) DropGoneSnapshots(record, QueryProxySettings());
    CommitSnapshotRecord(record);
}

// True unless an expected proxy is given and the snapshot applied another.
bool AppliedExpectedProxy(const WideString& expectedProxy, const ProxySnapshot& saved) {
    return expectedProxy.empty() || expectedProxy == saved.appliedProxyServer;
}

// Nothing is at the path: the live snapshots whose file lay there are restored from the record.
void RestoreLostSnapshotsOf(const WideString& snapshotPath, const WideString& expectedProxy) {
    const ProxyMutexLock settingsLock = AcquireProxySettingsLock();
    bool restored = false;
    for (const LiveSnapshot& live : ReadSnapshotRecord()) {
        if (IsSameStateFile(live.statePath, snapshotPath) && AppliedExpectedProxy(expectedProxy, live.snapshot)) {
            RestoreSnapshot(live.snapshot, nullptr);
            restored = true;
        }
    }
    if (!restored) TidySnapshotRecord();
    RemoveEarlierLogonRestoresOf(snapshotPath);
}

// Where the record says the snapshot's file lies; else where the caller says.
WideString StatePathOf(const SnapshotId& id, const WideString& snapshotPath) {
    const ProxyMutexLock settingsLock = AcquireProxySettingsLock();
    const SnapshotRecord record = ReadSnapshotRecord();
    const LiveSnapshot* live = FindLiveSnapshot(record, id);
    return live ? live->statePath : snapshotPath;
}

void RestoreById(const WideString& snapshotPath, const WideString& expectedProxy, const SnapshotId& id) {
    const WideString statePath = StatePathOf(id, snapshotPath);
    if (statePath.empty()) {
        RemoveLogonRestore(id);
        return;
    }
    const ProxyMutexLock lock = AcquireProxyMutex(statePath);
    const ProxyMutexLock settingsLock = AcquireProxySettingsLock();
    if (SnapshotIdAt(statePath) == id) {
        const ProxySnapshot saved = ReadProxySnapshot(statePath);
        if (saved.id != id || !AppliedExpectedProxy(expectedProxy, saved)) return;
        RestoreSnapshot(saved, &statePath);
        RemoveEarlierLogonRestoresOf(statePath);
        return;
    }
    // Its file is lost (or another file lies there now): the record alone still knows it.
    const SnapshotRecord record = ReadSnapshotRecord();
    const LiveSnapshot* live = FindLiveSnapshot(record, id);
    if (!live) {
        RemoveLogonRestore(id);
    } else if (AppliedExpectedProxy(expectedProxy, live->snapshot)) {
        RestoreSnapshot(live->snapshot, nullptr);
    }
}

void RestoreAtPath(const WideString& snapshotPath, const WideString& expectedProxy,
                   const std::optional<FileIdentity>& earlierFile) {
    const ProxyMutexLock lock = AcquireProxyMutex(snapshotPath);
    if (!SnapshotExists(snapshotPath)) {
        if (!earlierFile) RestoreLostSnapshotsOf(snapshotPath, expectedProxy);
        return;
    }
    // A later connection's snapshot at the same path is not the earlier file asked for.
    if (earlierFile && IdentityAt(snapshotPath) != earlierFile) return;
    const ProxySnapshot saved = ReadProxySnapshot(snapshotPath);
    if ((earlierFile && saved.id) || !AppliedExpectedProxy(expectedProxy, saved)) return;
    const ProxyMutexLock settingsLock = AcquireProxySettingsLock();
    RestoreSnapshot(saved, &snapshotPath);
    RemoveEarlierLogonRestoresOf(snapshotPath);
}

}  // namespace

void RestoreProxyFromState(const WideString& snapshotPath, const WideString& expectedProxy,
                           const SnapshotChoice& choice) {
    if (choice.id) {
        RestoreById(snapshotPath, expectedProxy, *choice.id);
    } else {
        RestoreAtPath(snapshotPath, expectedProxy, choice.earlierFile);
    }
}

void RestoreEverySnapshot() {
    std::vector<SnapshotId> ids;
    {
        const ProxyMutexLock settingsLock = AcquireProxySettingsLock();
        for (const LiveSnapshot& live : ReadSnapshotRecord()) ids.push_back(*live.snapshot.id);
    }
    std::optional<Win32Error> firstFailure;
    auto attempt = [&](const WideString& path, const SnapshotChoice& choice) {
        try {
            RestoreProxyFromState(path, WideString(), choice);
        } catch (Win32Error code) {
            if (!firstFailure) firstFailure = code;
        }
    };
    for (const SnapshotId& id : ids) attempt(WideString(), SnapshotChoice{id, std::nullopt});
    for (const EarlierLogonRestore& value : EarlierLogonRestores()) attempt(value.statePath, SnapshotChoice{});
    if (firstFailure) throw *firstFailure;
}

std::optional<ProxySettings> UserSettingsBehindHelperProxy(const SnapshotRecord& record,
                                                           const WideString& proxyServer) {
    if (std::optional<ProxySettings> recorded = UserSettingsBehind(record, proxyServer)) return recorded;
    for (const EarlierLogonRestore& value : EarlierLogonRestores()) {
        try {
            const ProxySnapshot snapshot = ReadProxySnapshot(value.statePath);
            if (snapshot.appliedProxyServer == proxyServer) return UserSettingsOf(snapshot);
        } catch (Win32Error) {
            // Gone or unreadable: it accounts for nothing.
        }
    }
    return std::nullopt;
}

void DropGoneSnapshots(SnapshotRecord& record, const ProxySettings& inForce) {
    std::erase_if(record, [&](const LiveSnapshot& live) {
        return live.snapshot.appliedProxyServer != inForce.proxyServer && FileIsGone(live);
    });
}

void CommitSnapshotRecord(const SnapshotRecord& record) {
    WriteSnapshotRecord(record);
    std::vector<SnapshotId> live;
    for (const LiveSnapshot& snapshot : record) live.push_back(*snapshot.snapshot.id);
    RemoveLogonRestoresOtherThan(live);
}
