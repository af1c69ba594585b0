#include "host/core_launch_plan.h"

#include "base/command_line.h"

namespace {

constexpr unsigned long kErrorFileNotFound = 2;
constexpr unsigned long kErrorAccessDenied = 5;

}  // namespace

CoreLaunchPlan PlanCoreLaunch(const WideString& helperDirectory, const WideString& configPath) {
    CoreLaunchPlan plan;
    plan.workingDirectory = helperDirectory + L"\\router";
    plan.executable = plan.workingDirectory + L"\\sing-box.exe";
    plan.commandLine = QuoteArgument(plan.executable) + L" run -c " + QuoteArgument(configPath);
    return plan;
}

std::string_view CoreStartFailureCode(unsigned long error) {
    if (error == kErrorAccessDenied) return "ACCESS_DENIED";
    if (error == kErrorFileNotFound) return "FILE_MISSING";
    return "HELPER_ERROR";
}
