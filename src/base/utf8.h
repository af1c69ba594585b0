#pragma once

#include "base/text.h"

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
ByteString ToUtf8(const WideString& text);
