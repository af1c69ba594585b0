// The host from a running core to its end, run as a real process under Wine with the
// stand-in core: readiness, supervision, every way it ends, and the core's output.
#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "base/system_info.h"
#include "support/file_watch.h"
#include "support/host_connection.h"

namespace {

using namespace testing_support;
using namespace host_testing;

constexpr DWORD kHostEndMilliseconds = 15000;

std::vector<uint64_t> ProgressSizes() {
    return {kStartCoreRecord.size(), kWaitInterfaceRecord.size(), kReadyRecord.size()};
}

// A core that records itself, starts a child and opens its API port after a short while.
std::string ReadyingScript(const HostConnection& connection) {
    return HostConnection::Line("record", connection.coreRecord) +
           HostConnection::Line("child", connection.coreChildId) + "sleep 300\nlisten " +
           std::to_string(connection.apiPort) + "\n";
}

// Starts a stand-in that idles, as the connection's client.
std::unique_ptr<ChildProcess> StartIdleClient(HostConnection& connection) {
    const std::wstring script = connection.directory / L"idle client.txt";
    WriteFileBytes(script, "");
    auto client = std::make_unique<ChildProcess>(StandInCorePath(), std::vector<std::wstring>{L"run", L"-c", script});
    connection.clientId = client->Id();
    connection.clientCreated = client->CreationTime();
    return client;
}

void ExpectCoreAndChildGone(const HostConnection& connection, DWORD coreId, DWORD childId) {
    ASSERT_NE(coreId, 0u);
    ASSERT_NE(childId, 0u);
    EXPECT_TRUE(EndsSoon(coreId)) << "the core outlived the host";
    EXPECT_TRUE(EndsSoon(childId)) << "the core's child outlived the host";
    EXPECT_EQ(ReadFileBytes(connection.done), "done");
}

TEST(HostLifecycle, ReportsProgressThenStopsWhenTheMarkerAppears) {
    HostConnection connection;
    connection.WriteCoreScript(ReadyingScript(connection));
    ChildProcess host(HelperPath(), connection.HostArguments());
    FileSizeHistory history(connection.state);
    ASSERT_TRUE(history.PollUntil(
        [](const auto& sizes) { return !sizes.empty() && sizes.back() == kReadyRecord.size(); }, 30000));
    EXPECT_EQ(history.Sizes(), ProgressSizes());
    EXPECT_EQ(ReadFileBytes(connection.state), kReadyRecord);

    const DWORD coreId = connection.CoreProcessId();
    const DWORD childId = connection.CoreChildProcessId();
    EXPECT_FALSE(ProcessHasEnded(coreId));
    EXPECT_FALSE(ProcessHasEnded(childId));
    EXPECT_FALSE(PathExists(connection.done));

    WriteFileBytes(connection.stop, "");
    EXPECT_EQ(host.Wait(kHostEndMilliseconds), 0u);
    ExpectCoreAndChildGone(connection, coreId, childId);
    EXPECT_EQ(ReadFileBytes(connection.state), kReadyRecord) << "a stop adds no record";
}

// A reader that holds the state file keeps the "ready" record waiting, not the host: a stop ends
// the core as promptly as ever; the record, then the done marker, follow once the reader lets go.
TEST(HostLifecycle, AHeldStateFileNeverHoldsUpTheStop) {
    HostConnection connection;
    connection.WriteCoreScript(ReadyingScript(connection));
    WriteFileBytes(connection.state, "the record before");
    std::optional<HeldFile> reader(std::in_place, connection.state);
    ASSERT_TRUE(reader->IsHeld());
    ChildProcess host(HelperPath(), connection.HostArguments());
    ASSERT_TRUE(WaitUntil([&] { return ReadFileBytes(connection.state + L".tmp") == kReadyRecord; }, 30000))
        << "no ready record waiting; state file: " << ReadFileBytes(connection.state);

    const DWORD coreId = connection.CoreProcessId();
    const DWORD childId = connection.CoreChildProcessId();
    WriteFileBytes(connection.stop, "");
    ASSERT_NE(coreId, 0u);
    EXPECT_TRUE(EndsSoon(coreId)) << "the held record kept the host from stopping the core";
    EXPECT_TRUE(EndsSoon(childId));
    EXPECT_TRUE(host.IsRunning()) << "the host gave up on the held record";
    EXPECT_FALSE(PathExists(connection.done)) << "done before the last record";
    EXPECT_EQ(ReadFileBytes(connection.state), "the record before");

    reader.reset();
    EXPECT_EQ(host.Wait(kHostEndMilliseconds), 0u);
    EXPECT_EQ(ReadFileBytes(connection.state), kReadyRecord);
    EXPECT_EQ(ReadFileBytes(connection.done), "done");
}

TEST(HostLifecycle, EndsTheCoreWhenTheClientEnds) {
    HostConnection connection;
    const std::unique_ptr<ChildProcess> client = StartIdleClient(connection);
    ASSERT_TRUE(client->IsRunning());
    connection.WriteCoreScript(ReadyingScript(connection));

    ChildProcess host(HelperPath(), connection.HostArguments());
    ASSERT_TRUE(WaitForReadyRecord(connection)) << "state file: " << ReadFileBytes(connection.state);
    const DWORD coreId = connection.CoreProcessId();
    const DWORD childId = connection.CoreChildProcessId();
    EXPECT_FALSE(ProcessHasEnded(coreId));

    client->Terminate();
    EXPECT_EQ(host.Wait(kHostEndMilliseconds), 0u);
    ExpectCoreAndChildGone(connection, coreId, childId);
    EXPECT_EQ(ReadFileBytes(connection.state), kReadyRecord);
    EXPECT_FALSE(PathExists(connection.stop));
}

// While the host waits for a core that never gets ready, looking at its port every few
// milliseconds, it still tries again a record that a reader held up (it arrives once the reader
// lets go, long before the host ends), and a stop or the client's end still ends it, adding no
// record.
TEST(HostLifecycle, WhileWaitingAHeldRecordStillArrivesAndAStopOrTheClientsEndStillEndsIt) {
    for (const bool clientEnds : {false, true}) {
        SCOPED_TRACE(clientEnds ? "the client ends" : "the stop marker appears");
        HostConnection connection;
        const std::unique_ptr<ChildProcess> client = StartIdleClient(connection);
        ASSERT_TRUE(client->IsRunning());
        connection.WriteCoreScript(HostConnection::Line("record", connection.coreRecord));
        WriteFileBytes(connection.state, "the record before");
        std::optional<HeldFile> reader(std::in_place, connection.state);
        ASSERT_TRUE(reader->IsHeld());

        ChildProcess host(HelperPath(), connection.HostArguments());
        ASSERT_TRUE(WaitUntil([&] { return ReadFileBytes(connection.state + L".tmp") == kWaitInterfaceRecord; }, 30000))
            << "no record waiting; state file: " << ReadFileBytes(connection.state);
        reader.reset();
        ASSERT_TRUE(WaitUntil([&] { return ReadFileBytes(connection.state) == kWaitInterfaceRecord; }, 10000))
            << "the waiting record was not tried again while the host waited";
        EXPECT_TRUE(host.IsRunning());

        ASSERT_TRUE(WaitUntil([&] { return connection.CoreProcessId() != 0; }, 10000));
        const DWORD coreId = connection.CoreProcessId();
        if (clientEnds) {
            client->Terminate();
        } else {
            WriteFileBytes(connection.stop, "");
        }
        EXPECT_EQ(host.Wait(kHostEndMilliseconds), 0u);
        EXPECT_TRUE(EndsSoon(coreId));
        EXPECT_EQ(ReadFileBytes(connection.state), kWaitInterfaceRecord);
        EXPECT_EQ(ReadFileBytes(connection.done), "done");
    }
}

TEST(HostCoreExit, CoreFailingAtOnceIsReportedWithItsCodeAndMatchedError) {
    HostConnection connection;
    const std::string accessDenied = SystemMessageLine(5);
    ASSERT_GT(accessDenied.size(), 5u) << "this system has no usable text for error 5";
    connection.WriteCoreScript("stdout starting core\nstderr FATAL start service: set ipv4 address: " +
                               AlternateCase(accessDenied) + "\nexit 3\n");
    ChildProcess host(HelperPath(), connection.HostArguments());
    FileSizeHistory history(connection.state);
    history.PollUntil([&](const auto&) { return !host.IsRunning(); }, kHostEndMilliseconds);
    EXPECT_EQ(host.Wait(kHostEndMilliseconds), 0u);
    const std::string expected = FailureRecord("start-core", "TUN_IPV4_ADDRESS_ERROR", 5, 3);
    EXPECT_EQ(ReadFileBytes(connection.state), expected);
    ASSERT_GE(history.Sizes().size(), 2u);
    EXPECT_EQ(history.Sizes()[history.Sizes().size() - 2], kWaitInterfaceRecord.size())
        << "the failure replaces the wait record";
    EXPECT_EQ(ReadFileBytes(connection.done), "done");
}

// A core that ends on its own after "ready": with a message and a code, or by crashing, which
// leaves no output and an exception code above 2^31 as its exit code.
TEST(HostCoreExit, CoreEndingAfterReadyIsACoreExit) {
    for (const auto& [ending, code, exitCode] :
         {std::tuple{"stderr ERROR start service: starting tun stack: gone\nexit 7\n", "TUN_STACK_ERROR", 7u},
          std::tuple{"crash\n", "CORE_ERROR", 0xC0000005u}}) {
        HostConnection connection;
        const std::wstring go = connection.directory / L"go";
        connection.WriteCoreScript(HostConnection::Line("record", connection.coreRecord) + "listen " +
                                   std::to_string(connection.apiPort) + "\n" + HostConnection::Line("wait-for", go) +
                                   ending);
        ChildProcess host(HelperPath(), connection.HostArguments());
        ASSERT_TRUE(WaitForReadyRecord(connection)) << "state file: " << ReadFileBytes(connection.state);
        WriteFileBytes(go, "");
        EXPECT_EQ(host.Wait(kHostEndMilliseconds), 0u);
        EXPECT_EQ(ReadFileBytes(connection.state), FailureRecord("core-exit", code, 0, exitCode)) << ending;
        EXPECT_EQ(ReadFileBytes(connection.done), "done");
        EXPECT_TRUE(EndsSoon(connection.CoreProcessId()));
    }
}

// Only the last 8192 bytes of output count: a phrase and an error text further back
// are gone, one just inside the tail is still seen.
TEST(HostCoreExit, OnlyTheLast8192BytesOfOutputAreClassified) {
    const std::string filler(59, 'x');  // 60 bytes a line with its line end
    const std::string failure = "set ipv4 address: " + SystemMessageLine(5);
    ASSERT_LE(failure.size() + 1 + 120 * 60, 8192u) << "120 lines of filler leave the failure in the tail";
    ASSERT_GE(140 * 60, 8192) << "140 lines of filler push it out";
    for (const auto& [fillerLines, code, win32] :
         {std::tuple{120, "TUN_IPV4_ADDRESS_ERROR", 5u}, std::tuple{140, "CORE_ERROR", 0u}}) {
        HostConnection connection;
        connection.WriteCoreScript("stderr " + failure + "\nstdout-repeat " + std::to_string(fillerLines) + " " +
                                   filler + "\nexit 4\n");
        const ProcessResult host = RunProgram(HelperPath(), connection.HostArguments(), kHostEndMilliseconds);
        EXPECT_EQ(host.exitCode, 0u);
        EXPECT_EQ(ReadFileBytes(connection.state), FailureRecord("start-core", code, win32, 4))
            << fillerLines << " lines of filler";
    }
}

// Megabytes of output before and after "ready" pass through a pipe that holds far less:
// the core only gets past them if the host keeps reading.
TEST(HostOutput, ACoreWritingALotIsNeverBlockedAndTheHostStillStops) {
    HostConnection connection;
    const std::wstring go = connection.directory / L"go";
    const std::wstring wroteAll = connection.directory / L"wrote all";
    const std::string line(199, 'y');
    connection.WriteCoreScript(HostConnection::Line("record", connection.coreRecord) + "stdout-repeat 10000 " + line +
                               "\nstderr-repeat 10000 " + line + "\nlisten " + std::to_string(connection.apiPort) +
                               "\n" + HostConnection::Line("wait-for", go) + "stdout-repeat 10000 " + line + "\n" +
                               HostConnection::Line("timestamp", wroteAll) + "flood " + line + "\n");
    ChildProcess host(HelperPath(), connection.HostArguments());
    ASSERT_TRUE(WaitForReadyRecord(connection)) << "4 MB of output held the core up";
    WriteFileBytes(go, "");
    EXPECT_TRUE(WaitUntil([&] { return PathExists(wroteAll); }, 20000)) << "output after ready held the core up";

    const DWORD coreId = connection.CoreProcessId();
    WriteFileBytes(connection.stop, "");
    EXPECT_EQ(host.Wait(kHostEndMilliseconds), 0u) << "a flooding core kept the host from stopping";
    EXPECT_TRUE(EndsSoon(coreId));
    EXPECT_EQ(ReadFileBytes(connection.done), "done");
}

TEST(HostFailure, BadApiValueEndsInHelperExceptionAndTheCoreEnds) {
    HostConnection connection;
    connection.api = L"http";
    connection.WriteCoreScript(ReadyingScript(connection));
    ChildProcess host(HelperPath(), connection.HostArguments());
    const DWORD hostId = host.Id();
    EXPECT_EQ(host.Wait(kHostEndMilliseconds), 2u);
    EXPECT_EQ(ReadFileBytes(connection.state), FailureRecord("helper-exception", "HELPER_ERROR", 0, 0));
    EXPECT_EQ(ReadFileBytes(connection.done), "done");
    EXPECT_TRUE(WaitUntil([&] { return ChildProcessIds(hostId).empty(); }, 5000)) << "the core outlived the host";
    if (const DWORD coreId = connection.CoreProcessId(); coreId != 0) {
        EXPECT_TRUE(EndsSoon(coreId));
    }
}

TEST(HostTimeout, ReadinessThatNeverComesEndsAfter30Seconds) {
    HostConnection connection;
    connection.interfaceName = L"keldrix-absent-adapter";
    connection.WriteCoreScript(HostConnection::Line("record", connection.coreRecord) + "listen " +
                               std::to_string(connection.apiPort) + "\n");
    const ULONGLONG started = GetTickCount64();
    ChildProcess host(HelperPath(), connection.HostArguments());
    EXPECT_EQ(host.Wait(60000), 0u);
    EXPECT_GE(GetTickCount64() - started, 30000u);
    EXPECT_EQ(ReadFileBytes(connection.state), FailureRecord("wait-interface", "TIMEOUT", 0, 0));
    EXPECT_EQ(ReadFileBytes(connection.done), "done");
    const DWORD coreId = connection.CoreProcessId();
    ASSERT_NE(coreId, 0u);
    EXPECT_TRUE(EndsSoon(coreId));
}

}  // namespace
