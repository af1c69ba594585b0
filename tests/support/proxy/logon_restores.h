// The logon restores that proxy enables register under HKCU\...\RunOnce. Wine never runs them at
// a session's start, so the tests read them, delete them and run their commands as Windows would.
#pragma once

#include <map>
#include <string>

#include "support/helper_process.h"

namespace proxy_testing {

// Every "KELDRIX-Proxy-..." value: its name and its command.
std::map<std::wstring, std::wstring> RegisteredLogonRestores();
void RemoveRegisteredLogonRestores();

// As Windows does at the next logon: deletes the value, then runs its command.
testing_support::ProcessResult RunLogonRestore(const std::wstring& valueName, const std::wstring& command);

}  // namespace proxy_testing
