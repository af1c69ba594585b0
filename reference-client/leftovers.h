#pragma once

#include <string>
#include <utility>
#include <vector>

#include "base/unique_resource.h"

// What a connection that never ended cleanly leaves behind, cleared before the next launch.
// A client that dies is cleaned up by the host and the guard; when the whole session ends at
// once (power loss, log-off, the guard killed with the client), nothing is: the proxy state
// file stays, and the user's proxy keeps pointing at a local port where nothing listens.

// Where the client keeps its proxy state file unless told otherwise:
// %LOCALAPPDATA%\KELDRIX\proxy-state.bin. The path must stay the same from one run to the
// next, so that a run after a power loss or a log-off finds the file the last one left
// behind. Creates the KELDRIX folder; empty when the folder cannot be found or created.
std::wstring DefaultProxyStatePath();

// One client at a time per proxy state file, so that a file found at start can only be a
// leftover, never a running connection's. Null, after saying so, when another client holds
// the path.
UniqueHandleNull ClaimProxyStatePath(const std::wstring& proxyStatePath);

// Runs "--proxy-restore" for the proxy state file, there or not: a file that is gone may have
// been lost while its proxy was on, and the helper's record still holds what it saved. False,
// after saying why, when the file stays: the user's saved settings are still in it, and
// "--proxy-enable" would refuse to start a connection over it (183).
bool RestoreLeftOverProxy(const std::wstring& helperPath, const std::wstring& proxyStatePath);

// Deletes what an earlier connection left at these paths (a description and a path each):
// a stale stop marker would end the new host at once, a stale record or done marker would be
// taken for the new host's. The stop marker may be a folder. False when one cannot go.
bool RemoveStaleConnectionFiles(const std::vector<std::pair<std::string, std::wstring>>& namedPaths);
