#include "app/capabilities.h"

#include "app/ipv6.h"
#include "app/standard_output.h"

ByteString BuildCapabilitiesReport(bool ipv6Disabled) {
    return ByteString("{\"ipv6Disabled\":") + (ipv6Disabled ? "true" : "false") + "}";
}

uint32_t RunNetworkCapabilities() {
    WriteStandardOutput(BuildCapabilitiesReport(IsIpv6Disabled()));
    return 0;
}
