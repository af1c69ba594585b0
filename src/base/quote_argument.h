#pragma once

#include "base/text.h"

// Quotes one value so that CommandLineToArgvW reads it back unchanged.
// Every value is quoted, even one without blanks; empty becomes "".
WideString QuoteArgument(const WideString& value);

// True when the text comes back as one argument without quotes: not empty, and holding
// no blank, tab or quote.
bool ReadsBackUnquoted(const WideString& text);
