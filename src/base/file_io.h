#pragma once

#include <cstddef>

#include "base/text.h"

// The largest file that ReadWholeFile accepts.
inline constexpr size_t kMaxWholeFileBytes = 65536;

// Replaces the file through "<path>.tmp" and a replacing move, so that readers see the old
// content or the new one, never a torn file. Best effort: reports nothing on failure.
void WriteFileAtomically(const WideString& path, const ByteString& content);

// Reads a file of at most 65,536 bytes whole. Throws Win32Error: the open or read error,
// or 13 (ERROR_INVALID_DATA) for a larger file.
ByteString ReadWholeFile(const WideString& path);
