#pragma once

#include "base/text.h"

// The four bytes "done" that tell the client the host has finished.
inline constexpr char kDoneMarkerContent[] = "done";

// Writes the done marker at `donePath`; a failed write goes unnoticed.
void WriteDoneMarker(const WideString& donePath);
