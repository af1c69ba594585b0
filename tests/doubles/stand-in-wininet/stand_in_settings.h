// The settings file of the test stand-in for WinINet, shared by the stand-in and the tests.
// ASCII lines: "flags=<decimal>", "flagsUi=<decimal>" only where the flags that the settings
// dialog shows differ (WinINet may leave auto-detect out of the plain flags while its checkbox
// is on), then one line per string option, "name=<text>" for a
// text (empty included) or just "name" for a null one. Units outside printable ASCII, the
// backslash and the double quote are written as \uXXXX, so every UTF-16 text survives.
#pragma once

#include <cstdint>
#include <optional>

#include "base/text.h"

struct StandInSettings {
    uint32_t flags = 1;  // PROXY_TYPE_DIRECT, what a fresh profile holds
    std::optional<uint32_t> flagsUi;  // INTERNET_PER_CONN_FLAGS_UI, where it differs from `flags`
    std::optional<WideString> proxyServer;
    std::optional<WideString> bypassList;
    std::optional<WideString> autoConfigUrl;

    bool operator==(const StandInSettings&) const = default;
};

ByteString FormatStandInSettings(const StandInSettings& settings);
// Lines that are missing or unreadable leave the defaults (flags 1, null strings).
StandInSettings ParseStandInSettings(const ByteString& bytes);

// The \uXXXX escaping of one text, as the settings file and the call log write it.
ByteString EscapeStandInText(const WideString& text);
WideString UnescapeStandInText(const ByteString& text);
