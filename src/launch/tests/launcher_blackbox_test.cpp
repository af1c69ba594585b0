// "--launch" run as a real process: what it returns and what it leaves behind.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/helper_process.h"
#include "support/pipe_server.h"
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

// The host must never open a path that reaches a server, a pipe or a device: the launcher refuses
// one before the consent prompt, with ERROR_BAD_PATHNAME, and starts nothing.
TEST(Launcher, PathThatIsNoLocalFileIsRefusedBeforeThePrompt) {
    const LaunchFiles files;
    const std::wstring pipe = L"\\\\.\\pipe\\keldrix-launch-" + std::to_wstring(GetCurrentProcessId());
    int connections = 0;
    {
        const PipeServer server(pipe);
        for (const std::wstring option : {L"--config", L"--state", L"--stop", L"--done"}) {
            for (const std::wstring& form : {pipe, std::wstring(L"\\\\127.0.0.1\\share\\file"),
                                            std::wstring(L"\\\\?\\UNC\\127.0.0.1\\share\\file"),
                                            std::wstring(L"NUL")}) {
                SCOPED_TRACE(ToUtf8(option + L" " + form));
                std::vector<std::wstring> arguments = files.Arguments(std::to_wstring(GetCurrentProcessId()));
                *(std::find(arguments.begin(), arguments.end(), option) + 1) = form;
                const ProcessResult result = RunHelper(arguments);
                EXPECT_EQ(result.exitCode, static_cast<DWORD>(ERROR_BAD_PATHNAME));
                EXPECT_EQ(result.output, "");
            }
        }
        connections = server.Connections();
    }
    EXPECT_EQ(connections, 0);
    Sleep(500);
    EXPECT_FALSE(PathExists(files.state)) << "a host was started";
    EXPECT_FALSE(PathExists(files.done)) << "a host was started";
}

}  // namespace
