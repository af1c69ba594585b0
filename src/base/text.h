// The helper's two string types: UTF-16 for paths, options and proxy texts;
// 8-bit bytes for JSON, file contents and the core's output.
#pragma once

#include <string>

using WideString = std::wstring;
using ByteString = std::string;
