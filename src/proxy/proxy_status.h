#pragma once

#include <cstdint>

#include "base/text.h"
#include "proxy/proxy_output_json.h"
#include "proxy/proxy_settings.h"

// "127.0.0.1:" and the port in decimal, whatever its value.
WideString LocalProxyAddress(uint32_t port);

ProxyStatusWords EvaluateProxyStatus(const ProxySettings& current, const WideString& localProxyAddress);

// True when the local proxy alone is in force: no automatic configuration or detection.
bool LocalProxyAloneInForce(const ProxyStatusWords& words);

// Queries the settings (without the proxy mutex), prints the status line and returns its words.
// Throws Win32Error from the query, printing nothing.
ProxyStatusWords ReportProxyStatus(const WideString& localProxyAddress);
