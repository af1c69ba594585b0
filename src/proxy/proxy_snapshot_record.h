// The helper's own record of every live snapshot of the user: where its file lies and what it
// saved, under its id. It is kept in one registry value, HKCU\Software\KELDRIX\Network Helper
// "LiveProxySnapshots", replaced whole at every change (Windows writes a value all or nothing),
// and is read and changed only under the session-wide settings lock. It outlives a lost or
// deleted file: the user's settings behind a helper's proxy are found here, whatever happened
// to the file that saved them.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "base/text.h"
#include "proxy/proxy_settings.h"
#include "proxy/proxy_snapshot.h"

inline constexpr wchar_t kHelperRegistryKey[] = L"Software\\KELDRIX\\Network Helper";
inline constexpr wchar_t kSnapshotRecordValue[] = L"LiveProxySnapshots";
inline constexpr char kSnapshotRecordMagic[] = "KELDREC1";
// The largest record read or written: far above what a few live snapshots take.
inline constexpr size_t kMaxSnapshotRecordBytes = 1 << 20;

struct LiveSnapshot {
    WideString statePath;    // resolved, as the logon restore and a restore of every snapshot open it
    ProxySnapshot snapshot;  // with its id

    bool operator==(const LiveSnapshot&) const = default;
};

using SnapshotRecord = std::vector<LiveSnapshot>;

// The magic, then per snapshot its path as a snapshot text field followed by its file's whole
// encoding (EncodeProxySnapshot, which says its own length). Throws Win32Error 13 for a text over
// the limit, a snapshot without an id, or a record over kMaxSnapshotRecordBytes.
ByteString EncodeSnapshotRecord(const SnapshotRecord& record);
// Throws Win32Error 13 for anything malformed: a snapshot without an id, or an id twice.
SnapshotRecord DecodeSnapshotRecord(const ByteString& bytes);

// Empty when there is no record. Throws Win32Error: the registry's error, or 13 for a value that
// is not a record.
SnapshotRecord ReadSnapshotRecord();
// Replaces the record; an empty one removes the value and the helper's key. Throws Win32Error.
void WriteSnapshotRecord(const SnapshotRecord& record);

// The live snapshot of that id; null when there is none.
const LiveSnapshot* FindLiveSnapshot(const SnapshotRecord& record, const SnapshotId& id);

// The user's settings saved by the live snapshot whose applied proxy server is `proxyServer`: the
// settings behind that helper's proxy. None when no live snapshot claims it.
std::optional<ProxySettings> UserSettingsBehind(const SnapshotRecord& record, const WideString& proxyServer);
