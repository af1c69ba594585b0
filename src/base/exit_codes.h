#pragma once

#include <cstdint>

// No verb, a missing or empty option, an unrecognised verb, a value that does not convert,
// or any failure the top-level handler catches.
inline constexpr uint32_t kUsageExitCode = 2;
