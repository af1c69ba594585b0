#pragma once

#include <cstdint>

#include "host/host_session.h"

// Continues the host once the core runs inside its job: reports "wait-interface", polls
// every 100 ms until the core is ready (API port open, adapter up) or 30 s have passed,
// then supervises it until the client ends, the stop marker appears or the core exits.
// Every ending ends the job, then closes and marks the host done (CloseAndMarkDone); the exit
// code is 0.
uint32_t SuperviseCore(HostSession& session);
