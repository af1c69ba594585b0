#pragma once

#include <cstdint>

#include "base/command_line.h"

// The "--guard" verb, run unelevated by the client: waits for the client ("--parent") or the
// core ("--core") to end, ends the core if the client went first (or, where the elevated core
// may not be ended by it, waits up to 5 s for the host to end it), then restores the proxy from
// "--state" and deletes "--config", each only if it is still the file that was there when the
// guard started. With "--core-created" (the core's creation time, as the host's "--created"
// is the client's), a process of that id created at another time is not the core. Returns 1,
// touching nothing, when the client cannot be opened (other than because it has gone), the core
// not even to wait for it (or it is not the core), or the wait fails; otherwise 0.
uint32_t RunGuard(const OptionMap& options);
