#include "support/proxy/proxy_lines.h"

namespace proxy_testing {

std::string StatusLine(bool proxyEnabled, bool proxyMatches, bool pacEnabled, bool autoDetect) {
    auto word = [](bool value) { return std::string(value ? "true" : "false"); };
    return "{\"component\":\"proxy\",\"stage\":\"proxy-status\",\"proxyEnabled\":" + word(proxyEnabled) +
           ",\"proxyMatches\":" + word(proxyMatches) + ",\"pacEnabled\":" + word(pacEnabled) +
           ",\"autoDetect\":" + word(autoDetect) + "}";
}

std::string ErrorLine(unsigned long code) {
    return "{\"component\":\"proxy\",\"stage\":\"proxy-error\",\"code\":\"PROXY_CONFIG_ERROR\",\"win32\":" +
           std::to_string(code) + "}";
}

std::string EnabledLine() { return StatusLine(true, true, false, false); }

}  // namespace proxy_testing
