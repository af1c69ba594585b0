// The helper's two string types: UTF-16 for paths, options and proxy texts;
// 8-bit bytes for JSON, file contents and the core's output.
#pragma once

#include <cstdint>
#include <string>

using WideString = std::wstring;
using ByteString = std::string;

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
ByteString ToUtf8(const WideString& text);

// The decimal digits of `value`, as std::to_wstring writes them, without the C runtime's
// formatted output, which would add a fifth to the size of the executable.
WideString FormatUnsigned(uint64_t value);
