#pragma once

#include <cstdint>
#include <string>

#include "base/win32.h"

// The host does not report the core's process id. A client finds it by descent: the core is
// the process with the helper's router\sing-box.exe as its image, started after the launch,
// whose parent is the host; the host is the helper process whose parent is the launcher the
// client ran (an elevated process counts the process that asked for it as its parent). Other
// helpers' cores on the machine are not the client's. Its creation time tells it from a later
// process that gets its id once it has ended: the guard takes both.
struct FoundCore {
    DWORD id = 0;  // 0 when there is none
    uint64_t created = 0;
};
FoundCore FindCore(const std::wstring& corePath, DWORD launcherId, uint64_t startedNotBefore);

// Now, as a FILETIME count, to compare with process creation times.
uint64_t CurrentFileTime();
