#pragma once

#include <cstdint>

#include "base/win32.h"

// A FILETIME as the one 64-bit count of 100-nanosecond intervals that it is.
inline uint64_t FileTimeCount(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}
