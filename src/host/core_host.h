#pragma once

#include <cstdint>

#include "base/command_line.h"

// The elevated host: checks that the client is still the process that asked, starts the
// core suspended inside a kill-on-close job with its output captured, lets it run, waits
// for it to become ready and supervises it. Returns the exit code: 2 without "--created",
// 1 for a failure before the core process exists, 0 from then on and for an early stop.
uint32_t RunHost(const OptionMap& options);
