#pragma once

#include <cstdint>
#include <string>

#include "base/win32.h"

// The host does not report the core's process id. A client finds it as the process whose
// image is the helper's router\sing-box.exe and that started after the launch; returns 0
// when there is none.
DWORD FindCoreProcessId(const std::wstring& corePath, uint64_t startedNotBefore);

// Now, as a FILETIME count, to compare with process creation times.
uint64_t CurrentFileTime();
