#include "status_record.h"

#include <cstdlib>
#include <map>

namespace {

// The text after "key": up to the next comma or closing brace, quotes removed.
bool FindValue(const std::string& json, const std::string& key, std::string& value) {
    const std::string marker = "\"" + key + "\":";
    const size_t start = json.find(marker);
    if (start == std::string::npos) return false;
    size_t begin = start + marker.size();
    if (begin < json.size() && json[begin] == '"') {
        const size_t end = json.find('"', begin + 1);
        if (end == std::string::npos) return false;
        value = json.substr(begin + 1, end - begin - 1);
        return true;
    }
    const size_t end = json.find_first_of(",}", begin);
    if (end == std::string::npos) return false;
    value = json.substr(begin, end - begin);
    return true;
}

uint32_t NumberOf(const std::string& json, const std::string& key) {
    std::string value;
    return FindValue(json, key, value) ? static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10)) : 0;
}

}  // namespace

bool ParseStatusRecord(const std::string& json, StatusRecord& record) {
    if (json.size() < 2 || json.front() != '{' || json.back() != '}') return false;
    record = StatusRecord{};
    if (!FindValue(json, "stage", record.stage)) return false;
    std::string flag;
    record.failed = FindValue(json, "failed", flag) && flag == "true";
    if (record.failed) FindValue(json, "code", record.code);
    record.win32 = NumberOf(json, "win32");
    record.exitCode = NumberOf(json, "exitCode");
    record.ready = FindValue(json, "interfaceReady", flag) && flag == "true";
    return true;
}

std::string ExplainCode(const std::string& code) {
    static const std::map<std::string, std::string> explanations = {
        {"PARENT_GONE", "the client that asked for the connection was gone (or replaced) when the host started"},
        {"HELPER_ERROR", "the helper itself failed (see the stage for where)"},
        {"ACCESS_DENIED",
         "access was denied: the helper refuses to run the core from an installation the user could change "
         "(its folder, router or router\\sing-box.exe), or the core was not allowed what it needed"},
        {"FILE_MISSING", "the core executable router\\sing-box.exe, or its router folder, is missing beside the helper"},
        {"TIMEOUT", "the core's API port and tunnel interface were not both ready within 30 seconds"},
        {"CORE_ERROR", "the core stopped; its output named no known cause"},
        {"TUN_IPV4_ADDRESS_ERROR", "the core could not set the tunnel's IPv4 address"},
        {"TUN_IPV6_ADDRESS_ERROR", "the core could not set the tunnel's IPv6 address"},
        {"TUN_IPV4_OPTIONS_ERROR", "the core could not set the tunnel's IPv4 options"},
        {"TUN_IPV6_OPTIONS_ERROR", "the core could not set the tunnel's IPv6 options"},
        {"TUN_STACK_ERROR", "the core could not start its tunnel network stack"},
        {"TUN_INTERFACE_ERROR", "the core could not start the tunnel interface"},
        {"NETWORK_INTERFACE_ERROR", "the core was given a network interface that does not exist"},
        {"TUN_DRIVER_ERROR", "the tunnel driver (Wintun) failed or is missing"},
        {"ADDRESS_IN_USE", "an address or port the core needs is already in use"},
        {"DNS_CONFIG_ERROR", "the core could not configure DNS"},
        {"ROUTE_ERROR", "the core could not set up routes"},
        {"TUN_CONFIG_ERROR", "the core could not configure the tunnel interface"},
        {"PROXY_CONFIG_ERROR", "the system proxy could not be changed"},
    };
    const auto found = explanations.find(code);
    return found == explanations.end() ? "an unknown failure code" : found->second;
}
