// Putting the user's settings back: from a snapshot file, or from the record once the file is lost.
#pragma once

#include <optional>

#include "base/file_by_handle.h"
#include "base/text.h"
#include "proxy/proxy_settings.h"
#include "proxy/proxy_snapshot.h"
#include "proxy/proxy_snapshot_record.h"

// Which snapshot a restore may act on; with neither, whatever snapshot the path holds.
struct SnapshotChoice {
    // That snapshot alone, wherever the record says its file lies, also once the file is lost.
    std::optional<SnapshotId> id;
    // An earlier version's file (one without an id), and only while it is that very file.
    std::optional<FileIdentity> earlierFile;
};

// Under the path's proxy mutex and the settings lock: restores the chosen snapshot when its
// applied proxy server is `expectedProxy` (or that is empty). The user's settings it saved go
// back when its proxy is still in force, or when a helper's proxy is in force that no live
// snapshot claims (its own is lost); otherwise the settings stay as they are. Then its file is
// deleted, and it is dropped from the record with its logon restore. With no file at the path,
// the live snapshots whose file lay there are restored from the record.
// Throws Win32Error; the file stays on every failure before the deletion.
void RestoreProxyFromState(const WideString& snapshotPath, const WideString& expectedProxy,
                           const SnapshotChoice& choice = {});

// Restores every live snapshot of the record, and every earlier version's registered one, each on
// its own; throws the first Win32Error once all were tried.
void RestoreEverySnapshot();

// The user's settings behind a helper's proxy server: those of the live snapshot that applied it,
// or of an earlier version's registered snapshot file that did. None when nothing claims it.
std::optional<ProxySettings> UserSettingsBehindHelperProxy(const SnapshotRecord& record,
                                                           const WideString& proxyServer);

// Drops from the record every snapshot whose file is gone (nothing at its path, or another file)
// and whose proxy is not the one in force: nothing is left for it to put back.
void DropGoneSnapshots(SnapshotRecord& record, const ProxySettings& inForce);

// Writes the record, then removes the logon restore of every snapshot not in it: of those just
// dropped, and of any that a run ended (killed, say) between the two steps.
void CommitSnapshotRecord(const SnapshotRecord& record);
