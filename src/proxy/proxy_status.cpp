#include "proxy/proxy_status.h"

#include "base/command_line.h"
#include "base/process.h"

WideString LocalProxyAddress(uint32_t port) { return L"127.0.0.1:" + FormatUnsigned(port); }

ProxyStatusWords EvaluateProxyStatus(const ProxySettings& current, const WideString& localProxyAddress) {
    return ProxyStatusWords{
        (current.flags & kProxyTypeProxy) != 0,
        current.proxyServer == localProxyAddress,
        (current.flags & kProxyTypeAutoProxyUrl) != 0,
        (current.flags & kProxyTypeAutoDetect) != 0,
    };
}

bool LocalProxyAloneInForce(const ProxyStatusWords& words) {
    return words.proxyEnabled && words.proxyMatches && !words.pacEnabled && !words.autoDetect;
}

ProxyStatusWords ReportProxyStatus(const WideString& localProxyAddress) {
    const ProxyStatusWords words = EvaluateProxyStatus(QueryProxySettings(), localProxyAddress);
    WriteStandardOutput(BuildProxyStatusLine(words));
    return words;
}
