#pragma once

#include <string_view>

#include "base/text.h"
#include "base/win32.h"

// Where the core lives and how it is started: "router\sing-box.exe" under the helper's
// directory, in that "router" folder, with "run -c" and the configuration path.
struct CoreLaunchPlan {
    WideString executable;
    WideString commandLine;
    WideString workingDirectory;
};

CoreLaunchPlan PlanCoreLaunch(const WideString& helperDirectory, const WideString& configPath);

// The status code for a core that could not be created, from the creation error.
std::string_view CoreStartFailureCode(unsigned long error);

// Creates the core as the plan says, suspended and inside `job` from its first moment, so that
// a host killed before it assigns the core leaves no core outside a job. The core inherits
// exactly `output` (its standard output and standard error) and `input` (its standard input;
// left out when invalid), whatever else of the host's is inheritable. Returns 0, or the
// system's error when the core could not be created.
DWORD CreateCoreSuspendedInJob(HANDLE job, const CoreLaunchPlan& plan, HANDLE input, HANDLE output,
                               PROCESS_INFORMATION& core);
