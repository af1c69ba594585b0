#pragma once

#include "base/text.h"
#include "base/win32.h"

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
