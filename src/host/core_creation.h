#pragma once

#include "base/win32.h"
#include "host/core_launch_plan.h"

// Creates the core as the plan says, suspended and inside `job` from its first moment, so that
// a host killed before it assigns the core leaves no core outside a job. The core inherits
// exactly `output` (its standard output and standard error) and `input` (its standard input;
// left out when invalid), whatever else of the host's is inheritable. Returns 0, or the
// system's error when the core could not be created.
DWORD CreateCoreSuspendedInJob(HANDLE job, const CoreLaunchPlan& plan, HANDLE input, HANDLE output,
                               PROCESS_INFORMATION& core);
