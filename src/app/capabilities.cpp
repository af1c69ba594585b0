#include "app/capabilities.h"

#include "base/ipv6.h"
#include "base/standard_output.h"

ByteString BuildCapabilitiesReport(bool ipv6Disabled) {
    return ByteString("{\"ipv6Disabled\":") + (ipv6Disabled ? "true" : "false") + "}";
}

uint32_t RunNetworkCapabilities() {
    WriteStandardOutput(BuildCapabilitiesReport(IsIpv6Disabled()));
    return 0;
}
