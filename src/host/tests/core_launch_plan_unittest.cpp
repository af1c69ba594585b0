// Where the core is found, what it is told, and how a failed start is named.
#include <gtest/gtest.h>

#include "host/core_launch_plan.h"

namespace {

TEST(PlanCoreLaunch, CoreLivesInTheRouterFolderAndGetsRunDashCAndTheQuotedConfig) {
    const CoreLaunchPlan plan = PlanCoreLaunch(L"C:\\Program Files\\KELDRIX", L"C:\\Users\\a b\\config \"1\".json");
    EXPECT_EQ(plan.executable, L"C:\\Program Files\\KELDRIX\\router\\sing-box.exe");
    EXPECT_EQ(plan.workingDirectory, L"C:\\Program Files\\KELDRIX\\router");
    EXPECT_EQ(plan.commandLine,
              L"\"C:\\Program Files\\KELDRIX\\router\\sing-box.exe\" run -c \"C:\\Users\\a b\\config \\\"1\\\".json\"");
}

TEST(PlanCoreLaunch, ConfigPathEndingInABackslashKeepsItsClosingQuote) {
    const CoreLaunchPlan plan = PlanCoreLaunch(L"D:\\k", L"D:\\cfg\\");
    EXPECT_EQ(plan.commandLine, L"\"D:\\k\\router\\sing-box.exe\" run -c \"D:\\cfg\\\\\"");
}

TEST(CoreStartFailureCode, NamesMissingFileAndAccessDeniedAndNothingElse) {
    EXPECT_EQ(CoreStartFailureCode(2), "FILE_MISSING");
    EXPECT_EQ(CoreStartFailureCode(5), "ACCESS_DENIED");
    for (const unsigned long other : {0ul, 3ul, 6ul, 193ul, 267ul, 0xFFFFFFFFul}) {
        EXPECT_EQ(CoreStartFailureCode(other), "HELPER_ERROR") << other;
    }
}

}  // namespace
