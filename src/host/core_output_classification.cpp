#include "host/core_output_classification.h"

#include <array>

#include "host/ascii_case.h"

namespace {

struct ClassificationRule {
    std::string_view phrase;
    std::string_view code;
};

// Order matters: the first rule that matches decides.
constexpr std::array<ClassificationRule, 16> kRules = {{
    {"set ipv4 address", "TUN_IPV4_ADDRESS_ERROR"},
    {"set ipv6 address", "TUN_IPV6_ADDRESS_ERROR"},
    {"set ipv4 options", "TUN_IPV4_OPTIONS_ERROR"},
    {"set ipv6 options", "TUN_IPV6_OPTIONS_ERROR"},
    {"starting tun stack", "TUN_STACK_ERROR"},
    {"starting tun interface", "TUN_INTERFACE_ERROR"},
    {"no such network interface", "NETWORK_INTERFACE_ERROR"},
    {"access is denied", "ACCESS_DENIED"},
    {"permission denied", "ACCESS_DENIED"},
    {"wintun", "TUN_DRIVER_ERROR"},
    {"driver", "TUN_DRIVER_ERROR"},
    {"create adapter", "TUN_DRIVER_ERROR"},
    {"bind", "ADDRESS_IN_USE"},
    {"dns", "DNS_CONFIG_ERROR"},
    {"route", "ROUTE_ERROR"},
    {"configure tun interface", "TUN_CONFIG_ERROR"},
}};

}  // namespace

std::string_view ClassifyCoreOutput(ByteString output) {
    LowerAsciiInPlace(output);
    for (const ClassificationRule& rule : kRules) {
        if (output.find(rule.phrase) != ByteString::npos) return rule.code;
    }
    return "CORE_ERROR";
}
