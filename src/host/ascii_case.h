#pragma once

#include "base/text.h"

// Folds A to Z to a to z and leaves every other byte alone, UTF-8 sequences included.
inline void LowerAsciiInPlace(ByteString& text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
}
