// The stop check, against real processes, files and served pipes.
#include <gtest/gtest.h>

#include <string>

#include "host/host_ending.h"
#include "support/helper_process.h"
#include "support/pipe_server.h"
#include "support/temp_directory.h"

namespace {

using namespace testing_support;

TEST(IsStopRequested, RunningClientWithoutMarkerIsNoStop) {
    TemporaryDirectory directory;
    EXPECT_FALSE(IsStopRequested(GetCurrentProcess(), directory / L"stop"));
    EXPECT_FALSE(IsStopRequested(GetCurrentProcess(), directory / L"missing folder\\stop"));
}

TEST(IsStopRequested, AnythingAtTheMarkerPathIsAStop) {
    TemporaryDirectory directory;
    WriteFileBytes(directory / L"empty file", "");
    EXPECT_TRUE(IsStopRequested(GetCurrentProcess(), directory / L"empty file"));
    ASSERT_TRUE(CreateDirectoryW((directory / L"a folder").c_str(), nullptr));
    EXPECT_TRUE(IsStopRequested(GetCurrentProcess(), directory / L"a folder"));
    WriteFileBytes(directory / L"hidden", "x");
    SetFileAttributesW((directory / L"hidden").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(IsStopRequested(GetCurrentProcess(), directory / L"hidden"));
}

// A stop path that is no local file is never looked at: a pipe served there sees no one.
TEST(IsStopRequested, PathThatIsNoLocalFileIsAStopUnopened) {
    const std::wstring pipe = L"\\\\.\\pipe\\keldrix-stop-" + std::to_wstring(GetCurrentProcessId());
    int connections = 0;
    {
        const PipeServer server(pipe);
        EXPECT_TRUE(IsStopRequested(GetCurrentProcess(), pipe));
        EXPECT_TRUE(IsStopRequested(GetCurrentProcess(), L"stop"));
        connections = server.Connections();
    }
    EXPECT_EQ(connections, 0);
}

TEST(IsStopRequested, EndedOrUnwaitableClientIsAStop) {
    TemporaryDirectory directory;
    const std::wstring stop = directory / L"stop";
    const std::wstring idleScript = directory / L"idle.txt";
    WriteFileBytes(idleScript, "");
    ChildProcess client(StandInCorePath(), {L"run", L"-c", idleScript});
    ASSERT_TRUE(client.IsRunning());
    EXPECT_FALSE(IsStopRequested(client.Handle(), stop));

    HANDLE queryOnly = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, client.Id());
    ASSERT_NE(queryOnly, nullptr);
    EXPECT_TRUE(IsStopRequested(queryOnly, stop)) << "a handle without SYNCHRONIZE cannot be waited on";
    CloseHandle(queryOnly);
    EXPECT_TRUE(IsStopRequested(nullptr, stop));

    client.Terminate();
    EXPECT_TRUE(IsStopRequested(client.Handle(), stop));
}

}  // namespace
