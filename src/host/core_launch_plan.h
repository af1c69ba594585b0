#pragma once

#include <string_view>

#include "base/text.h"

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
