#pragma once

// The one <windows.h> include comes first; the IP Helper types build on it.
// clang-format off
#include "base/win32.h"
#include <iphlpapi.h>
// clang-format on

#include <cstdint>

#include "base/text.h"

// Whether the core is ready: its API port and its adapter. Each probe reads its input anew on
// every call and keeps nothing; a probe that fails answers no.

// The port that `apiOption` names: the low 16 bits of the number, which is converted as stoul
// does: a value without a number throws std::invalid_argument and one beyond 32 bits
// std::out_of_range.
uint16_t ApiPort(const WideString& apiOption);

// True when a TCP connection to 127.0.0.1 on ApiPort(apiOption) is made at once or within
// 100 ms without a socket error. A refused connection answers no at once, on Windows too
// (where it would otherwise take seconds), so the port can be probed every few milliseconds.
// Winsock must be started by the caller.
bool IsApiPortOpen(const WideString& apiOption);

// True when an adapter whose friendly name equals `friendlyName` exactly (letter case
// included) is operationally up.
bool IsInterfaceUp(const WideString& friendlyName);

// Walks the adapter list in order: true at the first adapter whose friendly name equals
// `friendlyName` unit for unit and which is up. Adapters without a friendly name are skipped.
bool HasAdapterUp(const IP_ADAPTER_ADDRESSES* adapters, const WideString& friendlyName);
