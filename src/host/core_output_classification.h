#pragma once

#include <string_view>

#include "base/text.h"

// The error code for a core that ended: the code of the first rule (in the fixed rule
// order, not by position in the text) whose phrase occurs in the output, letter case
// ignored; "CORE_ERROR" when none does. Takes its own copy, which it lower-cases.
std::string_view ClassifyCoreOutput(ByteString output);
