#pragma once

#include "base/text.h"
#include "proxy/proxy_snapshot.h"

// Writes the snapshot atomically and reads it back. Throws Win32Error: 13 from encoding
// (nothing written), the read error, or 29 when the bytes on disk differ (the file stays).
// The caller holds the proxy mutex of the path.
void WriteProxySnapshot(const WideString& path, const ProxySnapshot& snapshot);

// Throws Win32Error: the read error, or 13 for an invalid or oversized file.
ProxySnapshot ReadProxySnapshot(const WideString& path);
