// "--launch" through to the host it starts: what the host really receives.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/text.h"
#include "support/file_watch.h"
#include "support/helper_process.h"
#include "support/host_connection.h"
#include "support/running_processes.h"
#include "support/temp_directory.h"

namespace {

using namespace testing_support;
using host_testing::HostConnection;

// The host started for this connection: the helper process whose command line names its state file.
std::vector<std::wstring> HostArgumentsOf(const HostConnection& connection) {
    for (DWORD id : ProcessIdsByImageName(L"KELDRIX-Network.exe")) {
        const std::vector<std::wstring> arguments = SplitCommandLine(ProcessCommandLine(id));
        for (const std::wstring& argument : arguments) {
            if (argument == connection.state) return {arguments.begin() + 1, arguments.end()};
        }
    }
    return {};
}

class LaunchToHost : public ::testing::Test {
protected:
    void SetUp() override {
        // No "listen": the host waits for readiness while the test looks at it.
        connection_.WriteCoreScript(HostConnection::Line("record", connection_.coreRecord));
    }
    void TearDown() override {
        WriteFileBytes(connection_.stop, "");
        EXPECT_TRUE(WaitUntil([&] { return ReadFileBytes(connection_.done) == "done"; }, 15000));
    }

    ProcessResult Launch(const std::vector<std::wstring>& extra) {
        std::vector<std::wstring> arguments = {L"--launch",     L"--config", connection_.config, L"--parent",
                                               std::to_wstring(connection_.clientId), L"--api", connection_.api,
                                               L"--interface",  connection_.interfaceName, L"--state",
                                               connection_.state, L"--stop", connection_.stop, L"--done",
                                               connection_.done};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return RunHelper(arguments);
    }

    HostConnection connection_;
};

TEST_F(LaunchToHost, ReturnsAtOnceWhileTheHostIsStillStarting) {
    const ProcessResult launch = Launch({});
    EXPECT_EQ(launch.exitCode, 0u);
    EXPECT_EQ(launch.output, "");
    EXPECT_FALSE(PathExists(connection_.done));
    EXPECT_TRUE(WaitUntil([&] { return !connection_.CoreRecord().empty(); }, 15000));
    EXPECT_EQ(ReadFileBytes(connection_.state), host_testing::kWaitInterfaceRecord);
}

TEST_F(LaunchToHost, HostReceivesEveryOptionSortedAndQuotedWithTheMeasuredCreationTime) {
    connection_.interfaceName = L"tun \"zero\" \\";
    const ProcessResult launch = Launch({L"--foo", L"bar baz\\", L"--created", L"5", L"--a", L""});
    ASSERT_EQ(launch.exitCode, 0u);
    ASSERT_TRUE(WaitUntil([&] { return !connection_.CoreRecord().empty(); }, 15000));

    const std::vector<std::wstring> expected = {
        L"--host",      L"--a",    L"",
        L"--api",       connection_.api,
        L"--config",    connection_.config,
        L"--created",   std::to_wstring(connection_.clientCreated),
        L"--done",      connection_.done,
        L"--foo",       L"bar baz\\",
        L"--interface", L"tun \"zero\" \\",
        L"--parent",    std::to_wstring(connection_.clientId),
        L"--state",     connection_.state,
        L"--stop",      connection_.stop};
    EXPECT_EQ(HostArgumentsOf(connection_), expected);

    // The host accepted the measured creation time and started the core with the config intact.
    EXPECT_EQ(ReadFileBytes(connection_.state), host_testing::kWaitInterfaceRecord);
    const auto record = connection_.CoreRecord();
    ASSERT_GE(record.size(), 4u);
    EXPECT_EQ(record[3].second, ToUtf8(connection_.config));
}

// Relative paths are the client's: the launcher, started in the client's folder, hands the host
// full paths into it, and the records and the core's configuration are found there.
TEST_F(LaunchToHost, RelativePathsNameFilesInTheClientsFolder) {
    const std::vector<std::wstring> arguments = {
        L"--launch", L"--config",    L"core config.txt", L"--parent", std::to_wstring(connection_.clientId),
        L"--api",    connection_.api, L"--interface",     connection_.interfaceName,
        L"--state",  L"state",        L"--stop",          L"stop",
        L"--done",   L".\\done"};
    ChildProcess launcher(HelperPath(), arguments, {.currentDirectory = connection_.directory.Path().c_str()});
    ASSERT_EQ(launcher.Wait(15000), 0u);
    ASSERT_TRUE(WaitUntil([&] { return !connection_.CoreRecord().empty(); }, 15000));

    const std::vector<std::wstring> received = HostArgumentsOf(connection_);
    for (const std::wstring* path : {&connection_.config, &connection_.done, &connection_.stop}) {
        EXPECT_NE(std::find(received.begin(), received.end(), *path), received.end()) << ToUtf8(*path);
    }
    EXPECT_EQ(ReadFileBytes(connection_.state), host_testing::kWaitInterfaceRecord);
    const auto record = connection_.CoreRecord();
    ASSERT_GE(record.size(), 4u);
    EXPECT_EQ(record[3].second, ToUtf8(connection_.config));
}

}  // namespace
