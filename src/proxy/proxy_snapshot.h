#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "base/file_by_handle.h"
#include "base/text.h"
#include "proxy/proxy_settings.h"

// What tells one snapshot from every other, ever: 128 bits from the system's random generator.
// A file's identity does not: a file system may give it to the next file at once.
struct SnapshotId {
    std::array<unsigned char, 16> bytes{};

    bool operator==(const SnapshotId&) const = default;
};

// The user's settings from before "--proxy-enable", and the proxy server it put in their place.
struct ProxySnapshot {
    uint32_t flags = 0;  // bit 31 set: restore auto-detect as the settings have it then
    WideString appliedProxyServer;
    WideString proxyServer;
    WideString bypassList;
    WideString autoConfigUrl;
    std::optional<SnapshotId> id = std::nullopt;  // none in a file of an earlier version

    bool operator==(const ProxySnapshot&) const = default;
};

// The user's settings that the snapshot saved.
inline ProxySettings UserSettingsOf(const ProxySnapshot& snapshot) {
    return ProxySettings{snapshot.flags, snapshot.proxyServer, snapshot.bypassList, snapshot.autoConfigUrl};
}

inline constexpr uint32_t kSnapshotKeepCurrentAutoDetect = 0x80000000u;
// A file with an id: the magic, the id's 16 bytes, then the flags and the four texts. An earlier
// version's file has no id and its own magic, and is read all the same.
inline constexpr char kProxySnapshotMagic[] = "KELDPXY3";
inline constexpr char kEarlierProxySnapshotMagic[] = "KELDPXY2";
inline constexpr size_t kMaxSnapshotTextUnits = 8192;
inline constexpr uint32_t kMaxSnapshotFieldBytes = 2 * kMaxSnapshotTextUnits;

// Appends a 4-byte little-endian byte length and the UTF-16LE units, unconverted.
// Throws Win32Error 13 for a text over 8,192 units, appending nothing.
void AppendSnapshotField(ByteString& bytes, const WideString& text);

// Reads one field at `position` and moves past it. Throws Win32Error 13 for a truncated
// field, or a length that is odd or over 16,384 bytes.
WideString ReadSnapshotField(const ByteString& bytes, size_t& position);

// The whole file, built in memory (an earlier version's layout for a snapshot without an id).
// Throws Win32Error 13 for a text over the limit.
ByteString EncodeProxySnapshot(const ProxySnapshot& snapshot);

// Reads one encoding, of either layout, at `position` and moves past it. Throws Win32Error 13 for
// a wrong magic or a short or bad field.
ProxySnapshot ReadProxySnapshotAt(const ByteString& bytes, size_t& position);

// One whole file of either layout. Throws Win32Error 13 for every malformed file: short, wrong
// magic, bad field, trailing bytes.
ProxySnapshot DecodeProxySnapshot(const ByteString& bytes);

// Writes the snapshot atomically and reads it back. Throws Win32Error: 13 from encoding
// (nothing written), the read error, or 29 when the bytes on disk differ (the file stays).
// The caller holds the proxy mutex of the path.
void WriteProxySnapshot(const WideString& path, const ProxySnapshot& snapshot);

// Throws Win32Error: the read error, or 13 for an invalid or oversized file.
ProxySnapshot ReadProxySnapshot(const WideString& path);

// Only a path that is not there means no snapshot: one that cannot be looked at (access refused,
// held by a scanner) may hold the user's settings. Throws Win32Error for that.
bool SnapshotExists(const WideString& path);

// The id in the file at `path`, read from its head while others may read, write or delete it:
// none when nothing is there, or a file without an id (an earlier version's, or not a snapshot).
// Throws Win32Error when something is there that cannot be read.
std::optional<SnapshotId> SnapshotIdAt(const WideString& path);

// A new id from the system's preferred random generator. Throws Win32Error when there is none.
SnapshotId NewSnapshotId();

// An id as "--snapshot-id" carries it: 32 upper-case hexadecimal digits.
WideString FormatSnapshotId(const SnapshotId& id);
// None for any other text.
std::optional<SnapshotId> ParseSnapshotId(const WideString& text);

// An earlier version's "--snapshot-id", which named the file itself: the volume serial number in
// 8 and the file index in 16 upper-case hexadecimal digits, joined by "-".
WideString FormatEarlierSnapshotId(const FileIdentity& identity);
std::optional<FileIdentity> ParseEarlierSnapshotId(const WideString& text);
