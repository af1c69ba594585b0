// The restore at the user's next logon. An enable registers, beside its snapshot, a value under
// HKCU\Software\Microsoft\Windows\CurrentVersion\RunOnce that runs "--proxy-restore" for exactly
// that snapshot file: after a power loss or a log-off Windows runs it (and deletes the value)
// at the next logon, before any client does. Every restore that leaves no snapshot at the path
// removes the value. The values also tell an enable where the snapshots of other proxy state
// files are, whose proxy may be the one it finds in force.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/file_by_handle.h"
#include "base/text.h"

inline constexpr wchar_t kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr wchar_t kLogonRestoreValuePrefix[] = L"KELDRIX-Proxy-";
// Windows runs a RunOnce command of at most this many characters; a longer one is not registered.
inline constexpr size_t kMaxRunOnceCommandUnits = 260;

// "KELDRIX-Proxy-" and the proxy state file's path hash in decimal, as in the mutex's name.
WideString LogonRestoreValueName(uint64_t pathHash);

// The helper, quoted, then "--proxy-restore --snapshot-id <id> --state <path>", each value quoted.
// The identity comes first: a command cut short anywhere restores nothing.
WideString LogonRestoreCommand(const WideString& helperPath, const FileIdentity& snapshot,
                               const WideString& statePath);

// The "--state" of such a command; none when it has none.
std::optional<WideString> StatePathOfCommand(const WideString& command);

// Best effort: false when the value could not be written (or the command is too long).
bool RegisterLogonRestore(const WideString& statePath, const FileIdentity& snapshot);
void RemoveLogonRestore(const WideString& statePath);

struct RegisteredSnapshot {
    WideString valueName;
    WideString statePath;
};

// Every proxy state file that a registered logon restore names.
std::vector<RegisteredSnapshot> RegisteredSnapshots();
