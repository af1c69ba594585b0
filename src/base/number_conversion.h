#pragma once

#include <cstdint>

#include "base/text.h"

// Decimal conversion with the rules of wcstoul/wcstoull in base 10: leading white space
// skipped, one optional sign (a minus negates modulo 2^N), digits up to the first other
// character. No digit at all throws std::invalid_argument; a value beyond the type's
// range throws std::out_of_range. Both carry the name "stoul".
uint32_t ParseUnsigned32(const WideString& text);
uint64_t ParseUnsigned64(const WideString& text);

// The decimal digits of `value`, as std::to_wstring writes them, without the C runtime's
// formatted output, which would add a fifth to the size of the executable.
WideString FormatUnsigned(uint64_t value);
