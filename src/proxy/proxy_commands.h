#pragma once

#include <cstdint>
#include <optional>

#include "base/command_line.h"
#include "base/text.h"
#include "base/win32.h"
#include "proxy/proxy_settings.h"

// What the status line says about the current settings.
struct ProxyStatusWords {
    bool proxyEnabled = false;
    bool proxyMatches = false;
    bool pacEnabled = false;
    bool autoDetect = false;

    bool operator==(const ProxyStatusWords&) const = default;
};

// The one JSON object a proxy verb prints: fixed keys and order, no white space, no newline.
ByteString BuildProxyStatusLine(const ProxyStatusWords& words);
ByteString BuildProxyErrorLine(Win32Error code);

// "127.0.0.1:" and the port in decimal, whatever its value.
WideString LocalProxyAddress(uint32_t port);

ProxyStatusWords EvaluateProxyStatus(const ProxySettings& current, const WideString& localProxyAddress);

// True when the local proxy alone is in force: no automatic configuration or detection.
bool LocalProxyAloneInForce(const ProxyStatusWords& words);

// Queries the settings (without the proxy mutex), prints the status line and returns its words.
// Throws Win32Error from the query, printing nothing.
ProxyStatusWords ReportProxyStatus(const WideString& localProxyAddress);

// The flags a restore applies: the saved ones, or with bit 31 set in them, the saved ones
// without bit 31 and with the current auto-detect bit added.
uint32_t FlagsToRestore(uint32_t savedFlags, uint32_t currentFlags);

// What "--proxy-enable" applies: the local proxy for everything but local addresses.
ProxySettings EnableProxySettings(const WideString& localProxyAddress);

// True for what an enable applies, whatever its port: the proxy server "127.0.0.1:" and a port
// from 1024 to 65535 in plain decimal, and the helper's own bypass list. The flags do not count.
bool IsHelperAppliedSettings(const ProxySettings& settings);

// What an enable saves as the user's settings, given those in force and, when they are a helper's
// own, the user's settings that the snapshot behind that proxy saved (if one can be found):
// those in force; or that snapshot's; or else, with no record left of the user's own proxy, a
// direct connection with the automatic detection and configuration script found in force.
ProxySettings SettingsToKeep(const ProxySettings& current, const std::optional<ProxySettings>& recordOfHelperProxy);

// True when a full path names a stream of a file: a ":" after its drive.
bool NamesAStream(const WideString& fullPath);

// Every verb beginning with "--proxy-": "--proxy-enable", "--proxy-restore", or a status
// report. Returns the exit code; a Win32Error is printed as the error line (exit 1), and
// anything else (a "--port" that does not parse) passes to the caller.
uint32_t RunProxyCommand(const WideString& verb, const OptionMap& options);
