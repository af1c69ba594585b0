#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "base/file_by_handle.h"
#include "base/text.h"

// The user's settings from before "--proxy-enable", and the proxy server it put in their place.
struct ProxySnapshot {
    uint32_t flags = 0;  // bit 31 set: restore auto-detect as the settings have it then
    WideString appliedProxyServer;
    WideString proxyServer;
    WideString bypassList;
    WideString autoConfigUrl;

    bool operator==(const ProxySnapshot&) const = default;
};

inline constexpr uint32_t kSnapshotKeepCurrentAutoDetect = 0x80000000u;
inline constexpr char kProxySnapshotMagic[] = "KELDPXY2";
inline constexpr size_t kMaxSnapshotTextUnits = 8192;
inline constexpr uint32_t kMaxSnapshotFieldBytes = 2 * kMaxSnapshotTextUnits;

// Appends a 4-byte little-endian byte length and the UTF-16LE units, unconverted.
// Throws Win32Error 13 for a text over 8,192 units, appending nothing.
void AppendSnapshotField(ByteString& bytes, const WideString& text);

// Reads one field at `position` and moves past it. Throws Win32Error 13 for a truncated
// field, or a length that is odd or over 16,384 bytes.
WideString ReadSnapshotField(const ByteString& bytes, size_t& position);

// The whole file, built in memory. Throws Win32Error 13 for a text over the limit.
ByteString EncodeProxySnapshot(const ProxySnapshot& snapshot);

// Throws Win32Error 13 for every malformed file: short, wrong magic, bad field, trailing bytes.
ProxySnapshot DecodeProxySnapshot(const ByteString& bytes);

// Writes the snapshot atomically and reads it back. Throws Win32Error: 13 from encoding
// (nothing written), the read error, or 29 when the bytes on disk differ (the file stays).
// The caller holds the proxy mutex of the path.
void WriteProxySnapshot(const WideString& path, const ProxySnapshot& snapshot);

// Throws Win32Error: the read error, or 13 for an invalid or oversized file.
ProxySnapshot ReadProxySnapshot(const WideString& path);

// The identity of one snapshot file, as "--snapshot-id" carries it: the volume serial number in
// 8 and the file index in 16 upper-case hexadecimal digits, joined by "-".
WideString FormatSnapshotId(const FileIdentity& identity);
// None for any other text.
std::optional<FileIdentity> ParseSnapshotId(const WideString& text);
