#pragma once

#include <cstdint>

// A TCP port on 127.0.0.1 that nothing listened on a moment ago: the one the system picks for
// a socket bound to port 0. 0 when no socket could be bound.
uint16_t FreeLoopbackPort();
