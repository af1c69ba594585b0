// The restore at the user's next logon. An enable registers, beside its snapshot, a value under
// HKCU\Software\Microsoft\Windows\CurrentVersion\RunOnce that runs "--proxy-restore" for exactly
// that snapshot, named by its id: after a power loss or a log-off Windows runs it (and deletes the
// value) at the next logon, before any client does. Whatever drops the snapshot from the record
// removes the value. Earlier versions named the value and the snapshot by the state file; their
// values are still read, to find their snapshots, and removed with them.
#pragma once

#include <optional>
#include <vector>

#include "base/text.h"
#include "proxy/proxy_snapshot.h"

inline constexpr wchar_t kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr wchar_t kLogonRestoreValuePrefix[] = L"KELDRIX-Proxy-";
// Windows runs a RunOnce command of at most this many characters; a longer one is not registered.
inline constexpr size_t kMaxRunOnceCommandUnits = 260;

// "KELDRIX-Proxy-" and the snapshot's id.
WideString LogonRestoreValueName(const SnapshotId& id);

// The helper, quoted, then "--proxy-restore --snapshot-id <id>": the record knows where the file
// lies, so the command is as short whatever its path.
WideString LogonRestoreCommand(const WideString& helperPath, const SnapshotId& id);

// The "--state" of an earlier version's command; none for any other command.
std::optional<WideString> StatePathOfCommand(const WideString& command);

// Best effort: false when the value could not be written (or the command is too long).
bool RegisterLogonRestore(const SnapshotId& id);
void RemoveLogonRestore(const SnapshotId& id);
// Removes the values of every snapshot but these: those a run ended before it could remove them.
void RemoveLogonRestoresOtherThan(const std::vector<SnapshotId>& live);

struct EarlierLogonRestore {
    WideString valueName;
    WideString statePath;
};

// Every value of an earlier version, with the proxy state file it names.
std::vector<EarlierLogonRestore> EarlierLogonRestores();
void RemoveEarlierLogonRestore(const EarlierLogonRestore& value);
