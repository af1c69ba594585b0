#pragma once

#include <cstdint>

#include "base/text.h"

// {"ipv6Disabled":true} or {"ipv6Disabled":false}, with no line end.
ByteString BuildCapabilitiesReport(bool ipv6Disabled);

// The "--network-capabilities" verb: prints the report and returns 0.
uint32_t RunNetworkCapabilities();
