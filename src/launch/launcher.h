#pragma once

#include <cstdint>

#include "base/command_line.h"

// The "--launch" verb: measures the client's creation time, adds it as "--created" and
// starts this executable again elevated ("runas") as the host. Returns at once with 0,
// 1 when the creation time cannot be read or is zero, or the raw Windows error of the
// failed open or start.
uint32_t RunLauncher(OptionMap& options);
