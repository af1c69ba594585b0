#pragma once

#include <string>

// Where the client keeps its proxy state file unless told otherwise:
// %LOCALAPPDATA%\KELDRIX\proxy-state.bin. The path must stay the same from one run to the
// next, so that a run after a power loss or a log-off finds the file the last one left
// behind. Creates the KELDRIX folder; empty when the folder cannot be found or created.
std::wstring DefaultProxyStatePath();
