#pragma once

#include "base/text.h"

// Writes the bytes to standard output with one WriteFile; a failed write is ignored.
void WriteStandardOutput(const ByteString& bytes);
