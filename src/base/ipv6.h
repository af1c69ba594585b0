#pragma once

// True when bit 0x10 of the Tcpip6 "DisabledComponents" REG_DWORD is set.
// Read anew on every call; any failure (missing, another type) reads as false.
bool IsIpv6Disabled();

// The decision alone, for a DisabledComponents value that was read.
constexpr bool DisabledComponentsDisableIpv6(unsigned long value) { return (value & 0x10) != 0; }
