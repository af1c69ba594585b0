#pragma once

#include "base/text.h"

// Quotes one value so that CommandLineToArgvW reads it back unchanged.
// Every value is quoted, even one without blanks; empty becomes "".
WideString QuoteArgument(const WideString& value);
