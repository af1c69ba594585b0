#pragma once

#include <cstdint>

#include "base/text.h"

// True when bit 0x10 of the Tcpip6 "DisabledComponents" REG_DWORD is set.
// Read anew on every call; any failure (missing, another type) reads as false.
bool IsIpv6Disabled();

// The decision alone, for a DisabledComponents value that was read.
constexpr bool DisabledComponentsDisableIpv6(unsigned long value) { return (value & 0x10) != 0; }

// The system's message text for a Windows error (FormatMessageW from the system table,
// inserts ignored) in `language`, 0 being the system's default search; empty when there is none.
WideString SystemMessageText(uint32_t code, uint32_t language = 0);

// The text without the carriage returns, line feeds and blanks that end it.
WideString WithoutTrailingLineEnd(const WideString& message);

// The message in the default language as one UTF-8 line; empty when there is none.
ByteString SystemMessageLine(uint32_t code);
