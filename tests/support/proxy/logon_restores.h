// What proxy enables leave in the user's registry: the logon restores they register under
// HKCU\...\RunOnce, and the helper's record of live snapshots. Wine never runs the logon restores
// at a session's start, so the tests read them, delete them and run their commands as Windows would.
#pragma once

#include <map>
#include <string>

#include "support/helper_process.h"

namespace proxy_testing {

// Every "KELDRIX-Proxy-..." value: its name and its command.
std::map<std::wstring, std::wstring> RegisteredLogonRestores();
void RemoveRegisteredLogonRestores();

// Removes the helper's key, and with it the record of live snapshots.
void RemoveSnapshotRecord();

// As Windows does at the next logon: deletes the value, then runs its command.
testing_support::ProcessResult RunLogonRestore(const std::wstring& valueName, const std::wstring& command);

}  // namespace proxy_testing
