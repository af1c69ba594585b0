#pragma once

#include <cstdint>

#include "host/host_session.h"

// Continues the host once the core runs inside its job: reports "wait-interface", checks every
// 100 ms, and looks at the core's readiness every 8 ms between checks, until the core is ready
// (API port open, adapter up) or 30 s have passed, then supervises it until the client ends, the
// stop marker appears or the core exits. The end of the client or the core is noticed at once.
// Every ending ends the job, then closes the host and delivers its last word
// (CloseAndDeliverLastWord); the exit code is 0.
uint32_t SuperviseCore(HostSession& session);
