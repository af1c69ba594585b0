#pragma once

// The one <windows.h> include comes first; the IP Helper types build on it.
// clang-format off
#include "base/win32.h"
#include <iphlpapi.h>
// clang-format on

#include "base/text.h"

// Walks the adapter list in order: true at the first adapter whose friendly name equals
// `friendlyName` unit for unit and which is up. Adapters without a friendly name are skipped.
bool HasAdapterUp(const IP_ADAPTER_ADDRESSES* adapters, const WideString& friendlyName);
