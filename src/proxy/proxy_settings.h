#pragma once

#include <cstdint>

#include "base/text.h"

// Bits of ProxySettings::flags; any other bit is carried unchanged.
inline constexpr uint32_t kProxyTypeDirect = 1;
inline constexpr uint32_t kProxyTypeProxy = 2;
inline constexpr uint32_t kProxyTypeAutoProxyUrl = 4;
inline constexpr uint32_t kProxyTypeAutoDetect = 8;

// The four per-connection options of the default connection (the LAN settings).
// Strings are never null: an unset option reads as empty and is written back as empty.
struct ProxySettings {
    uint32_t flags = 0;
    WideString proxyServer;
    WideString bypassList;
    WideString autoConfigUrl;

    bool operator==(const ProxySettings&) const = default;
};

// Reads the current user's settings through WinINet, the flags as the settings dialog shows
// them (INTERNET_PER_CONN_FLAGS_UI, or INTERNET_PER_CONN_FLAGS where WinINet refuses that).
// Throws Win32Error: the error of the plain query.
ProxySettings QueryProxySettings();

// Writes the settings (the flags as INTERNET_PER_CONN_FLAGS), then tells WinINet and every
// top-level window that they changed.
// Throws Win32Error when the settings cannot be written, before any notification.
void ApplyProxySettings(const ProxySettings& settings);
