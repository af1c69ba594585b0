#include "proxy/proxy_output_json.h"

#include <string>

namespace {

const char* JsonBoolean(bool value) { return value ? "true" : "false"; }

}  // namespace

ByteString BuildProxyStatusLine(const ProxyStatusWords& words) {
    return ByteString("{\"component\":\"proxy\",\"stage\":\"proxy-status\",\"proxyEnabled\":") +
           JsonBoolean(words.proxyEnabled) + ",\"proxyMatches\":" + JsonBoolean(words.proxyMatches) +
           ",\"pacEnabled\":" + JsonBoolean(words.pacEnabled) + ",\"autoDetect\":" + JsonBoolean(words.autoDetect) +
           "}";
}

ByteString BuildProxyErrorLine(Win32Error code) {
    return "{\"component\":\"proxy\",\"stage\":\"proxy-error\",\"code\":\"PROXY_CONFIG_ERROR\",\"win32\":" +
           std::to_string(static_cast<uint32_t>(code)) + "}";
}
