#pragma once

#include <cstdint>

#include "base/option_map.h"

// The "--guard" verb: waits for the client ("--parent") or the core ("--core") to end,
// ends the core if the client went first, then restores the proxy from "--state" and
// deletes "--config". Returns 1 when the core cannot be opened, otherwise 0.
uint32_t RunGuard(OptionMap& options);
