// "--launch" run as a real process: what it returns and what it leaves behind.
#include <gtest/gtest.h>

#include "support/helper_process.h"
#include "support/temp_directory.h"

namespace {

using namespace testing_support;

struct LaunchFiles {
    TemporaryDirectory directory;
    std::wstring state = directory / L"state";
    std::wstring done = directory / L"done";

    std::vector<std::wstring> Arguments(const std::wstring& parent) const {
        return {L"--launch", L"--config", directory / L"config.json", L"--parent", parent, L"--api", L"9",
                L"--interface", L"lo", L"--state", state, L"--stop", directory / L"stop", L"--done", done};
    }
};

DWORD UnusedProcessId() {
    // Process ids are multiples of 4; one that cannot be opened names no process.
    for (DWORD id = 0x7FFFFF00; id > 0x7FFF0000; id -= 4) {
        if (ProcessHasEnded(id)) return id;
    }
    return 0;
}

TEST(Launcher, ClientThatIsGoneGivesTheOpenErrorAndStartsNothing) {
    LaunchFiles files;
    const ProcessResult result = RunHelper(files.Arguments(std::to_wstring(UnusedProcessId())));
    EXPECT_EQ(result.exitCode, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(result.output, "");
    Sleep(500);
    EXPECT_FALSE(PathExists(files.state));
    EXPECT_FALSE(PathExists(files.done));
}

TEST(Launcher, ClientIdThatDoesNotConvertEndsInTheFailureHandler) {
    LaunchFiles files;
    const ProcessResult result = RunHelper(files.Arguments(L"client"));
    EXPECT_EQ(result.exitCode, 2u);
    EXPECT_EQ(ReadFileBytes(files.state),
              "{\"stage\":\"helper-exception\",\"ipv6Disabled\":false,\"failed\":true,\"code\":\"HELPER_ERROR\","
              "\"win32\":0,\"exitCode\":0}");
    EXPECT_EQ(ReadFileBytes(files.done), "done");
}

}  // namespace
