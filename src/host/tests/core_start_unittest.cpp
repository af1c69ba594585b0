// Where the core is found, what it is told, how it is created, and how a failed start is named.
#include <gtest/gtest.h>

#include "base/unique_resource.h"
#include "host/core_start.h"
#include "support/helper_process.h"

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

// A host killed between the core's creation and its assignment must leave no core outside a job:
// the core is in its job before anything assigns it.
TEST(CreateCoreSuspendedInJob, TheCoreIsInItsJobFromItsCreation) {
    const UniqueHandleNull job(CreateJobObjectW(nullptr, nullptr));
    ASSERT_TRUE(job);
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    UniqueHandleNull readEnd;
    UniqueHandleNull writeEnd;
    ASSERT_TRUE(CreatePipe(readEnd.Put(), writeEnd.Put(), &inheritable, 0));
    // The stand-in core as built lives at router\sing-box.exe in the build tree.
    const CoreLaunchPlan plan = PlanCoreLaunch(testing_support::BuildDirectory(), L"no such config");
    PROCESS_INFORMATION core{};
    ASSERT_EQ(CreateCoreSuspendedInJob(job.Get(), plan, INVALID_HANDLE_VALUE, writeEnd.Get(), core), 0u);
    const UniqueHandleNull process(core.hProcess);
    const UniqueHandleNull thread(core.hThread);
    BOOL inJob = FALSE;
    EXPECT_TRUE(IsProcessInJob(process.Get(), job.Get(), &inJob));
    EXPECT_TRUE(inJob);
    TerminateProcess(process.Get(), 1);  // whether or not it is in the job
    WaitForSingleObject(process.Get(), 5000);
}

}  // namespace
