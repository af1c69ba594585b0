#include "app/capabilities.h"

#include "base/process.h"
#include "base/system_info.h"

ByteString BuildCapabilitiesReport(bool ipv6Disabled) {
    return ByteString("{\"ipv6Disabled\":") + (ipv6Disabled ? "true" : "false") + "}";
}

uint32_t RunNetworkCapabilities() {
    WriteStandardOutput(BuildCapabilitiesReport(IsIpv6Disabled()));
    return 0;
}
