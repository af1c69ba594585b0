#pragma once

#include <cstdint>

#include "base/command_line.h"
#include "base/text.h"
#include "proxy/proxy_settings.h"

// What "--proxy-enable" applies: the local proxy for everything but local addresses.
ProxySettings EnableProxySettings(const WideString& localProxyAddress);

// Every verb beginning with "--proxy-": "--proxy-enable", "--proxy-restore", or a status
// report. Returns the exit code; a Win32Error is printed as the error line (exit 1), and
// anything else (a "--port" that does not parse) passes to the caller.
uint32_t RunProxyCommand(const WideString& verb, OptionMap& options);
