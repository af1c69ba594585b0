#pragma once

#include "base/win32.h"

// Milliseconds since an arbitrary start, from the performance counter. GetTickCount64 moves in
// steps of the system timer (about 15.6 ms on Windows, and as coarse under Wine), which stretches
// waits of a few milliseconds computed from it by up to a step; this clock does not.
ULONGLONG MonotonicMilliseconds();
