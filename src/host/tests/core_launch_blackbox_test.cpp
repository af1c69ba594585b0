// The host from its first check to a running core, run as a real process under Wine:
// the client check, an early stop, the core's start and what the core is given.
#include <gtest/gtest.h>

#include "base/file_by_handle.h"
#include "base/process.h"
#include "base/text.h"
#include "base/unique_resource.h"
#include "support/file_watch.h"
#include "support/host_connection.h"

namespace {

using namespace testing_support;
using namespace host_testing;

constexpr DWORD kHostEndMilliseconds = 15000;

std::string ExitingScript(const HostConnection& connection) {
    return HostConnection::Line("record", connection.coreRecord) + "exit 0\n";
}

std::wstring HelperIn(const std::wstring& installation) {
    return InstallationPath(installation) + L"\\KELDRIX-Network.exe";
}

// The path the system resolves `path` to, links and all.
std::wstring FinalPath(const std::wstring& path) {
    const UniqueHandleFile file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return FinalPathOf(file.Get());
}

TEST(HostClientCheck, ClientThatNoLongerExistsIsParentGone) {
    HostConnection connection;
    {
        const std::wstring idleScript = connection.directory / L"idle.txt";
        WriteFileBytes(idleScript, "");
        ChildProcess gone(StandInCorePath(), {L"run", L"-c", idleScript});
        connection.clientId = gone.Id();
        connection.clientCreated = gone.CreationTime();
    }
    // The process object goes away a moment after its last handle is closed.
    DWORD openError = 0;
    ASSERT_TRUE(WaitUntil(
        [&] {
            HANDLE client = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, connection.clientId);
            openError = GetLastError();
            if (client != nullptr) CloseHandle(client);
            return client == nullptr;
        },
        5000));
    connection.WriteCoreScript(ExitingScript(connection));

    const ProcessResult host = RunHelper(connection.HostArguments(), kHostEndMilliseconds);
    EXPECT_EQ(host.exitCode, 1u);
    EXPECT_EQ(ReadFileBytes(connection.state), FailureRecord("parent-check", "PARENT_GONE", openError, 0));
    EXPECT_EQ(ReadFileBytes(connection.done), "done");
    EXPECT_FALSE(PathExists(connection.coreRecord)) << "the core was started";
}

TEST(HostClientCheck, CreationTimeOneTickOffIsParentGone) {
    for (const int64_t offset : {+1, -1}) {
        HostConnection connection;
        connection.clientCreated += offset;
        connection.WriteCoreScript(ExitingScript(connection));
        const ProcessResult host = RunHelper(connection.HostArguments(), kHostEndMilliseconds);
        EXPECT_EQ(host.exitCode, 1u);
        const std::string record = ReadFileBytes(connection.state);
        EXPECT_EQ(record.rfind(R"({"stage":"parent-check",)", 0), 0u) << record;
        EXPECT_NE(record.find(R"("code":"PARENT_GONE")"), std::string::npos) << record;
        EXPECT_EQ(ReadFileBytes(connection.done), "done");
        EXPECT_FALSE(PathExists(connection.coreRecord));
    }
}

TEST(HostClientCheck, MissingCreatedExitsWith2AndWritesNothing) {
    HostConnection connection;
    connection.WriteCoreScript(ExitingScript(connection));
    std::vector<std::wstring> arguments = connection.HostArguments();
    arguments.resize(arguments.size() - 2);  // drops "--created" and its value
    EXPECT_EQ(RunHelper(arguments, kHostEndMilliseconds).exitCode, 2u);
    EXPECT_FALSE(PathExists(connection.state));
    EXPECT_FALSE(PathExists(connection.done));
    EXPECT_FALSE(PathExists(connection.coreRecord));
}

TEST(HostEarlyStop, StopMarkerBeforeStartEndsQuietly) {
    HostConnection connection;
    connection.WriteCoreScript(ExitingScript(connection));
    CreateDirectoryW(connection.stop.c_str(), nullptr);
    const ProcessResult host = RunHelper(connection.HostArguments(), kHostEndMilliseconds);
    EXPECT_EQ(host.exitCode, 0u);
    EXPECT_FALSE(PathExists(connection.state)) << "an early stop writes no record";
    EXPECT_EQ(ReadFileBytes(connection.done), "done");
    EXPECT_FALSE(PathExists(connection.coreRecord)) << "the core was started";
}

TEST(HostEarlyStop, ClientEndedButStillOpenableEndsQuietly) {
    HostConnection connection;
    const std::wstring idleScript = connection.directory / L"idle.txt";
    WriteFileBytes(idleScript, "");
    ChildProcess client(StandInCorePath(), {L"run", L"-c", idleScript});
    connection.clientId = client.Id();
    connection.clientCreated = client.CreationTime();
    client.Terminate();  // its handle stays open here, so the ended process can still be opened
    connection.WriteCoreScript(ExitingScript(connection));

    const ProcessResult host = RunHelper(connection.HostArguments(), kHostEndMilliseconds);
    EXPECT_EQ(host.exitCode, 0u);
    EXPECT_FALSE(PathExists(connection.state));
    EXPECT_EQ(ReadFileBytes(connection.done), "done");
    EXPECT_FALSE(PathExists(connection.coreRecord));
}

// The core runs elevated, and loads and reads what lies beside it, so it runs only from an
// installation that administrators alone may change, all of it; otherwise the host reads as if
// the system had refused the start, and starts nothing.
TEST(HostCoreStart, OnlyAnInstallationOnlyAdministratorsMayChangeRunsItsCore) {
    struct Case {
        const wchar_t* installation;
        const char* code;
        uint32_t win32;
    };
    const Case refused[] = {
        {L"router-of-the-user", "ACCESS_DENIED", 5},
        {L"core-writable-by-everyone", "ACCESS_DENIED", 5},
        {L"helper-of-the-user", "ACCESS_DENIED", 5},
        {L"dll-of-the-user", "ACCESS_DENIED", 5},
        {L"dll-writable-by-everyone", "ACCESS_DENIED", 5},
        {L"rules-of-the-user", "ACCESS_DENIED", 5},
        // Links to what administrators alone may change: only the link is wrong.
        {L"rules-linked", "ACCESS_DENIED", 5},
        {L"dll-linked", "ACCESS_DENIED", 5},
        {L"links\\to-user-copy", "ACCESS_DENIED", 5},
        {L"too-large", "ACCESS_DENIED", 5},
        // Its owner may give itself the right to change it at any time.
        {L"read-only-of-the-user", "ACCESS_DENIED", 5},
        {L"router-missing", "FILE_MISSING", 2},
        {L"core-missing", "FILE_MISSING", 2},
    };
    for (const Case& installation : refused) {
        SCOPED_TRACE(ToUtf8(installation.installation));
        HostConnection connection;
        connection.WriteCoreScript(ExitingScript(connection));
        const ProcessResult host =
            RunProgram(HelperIn(installation.installation), connection.HostArguments(), kHostEndMilliseconds);
        EXPECT_EQ(host.exitCode, 1u);
        EXPECT_EQ(ReadFileBytes(connection.state), FailureRecord("start-core", installation.code, installation.win32, 0));
        EXPECT_EQ(ReadFileBytes(connection.done), "done");
        EXPECT_FALSE(PathExists(connection.coreRecord)) << "the core ran";
    }
    // Started through a link of the user's that leads into the installation, the helper runs the
    // installation's own core, found from where its image really is, not through the link. With
    // hundreds of files under router, all the administrators', the core runs as well.
    for (const wchar_t* installation : {L"links\\to-installation", L"full-size"}) {
        SCOPED_TRACE(ToUtf8(installation));
        HostConnection connection;
        connection.WriteCoreScript(ExitingScript(connection));
        EXPECT_EQ(RunProgram(HelperIn(installation), connection.HostArguments(), kHostEndMilliseconds).exitCode, 0u);
        const std::vector<std::pair<std::string, std::string>> record = connection.CoreRecord();
        ASSERT_EQ(record.size(), 6u);
        const wchar_t* realInstallation = installation == std::wstring(L"full-size") ? installation : L"installed";
        EXPECT_EQ(record[4].second, ToUtf8(FinalPath(InstallationPath(realInstallation) + L"\\router")));
    }
}

TEST(HostCoreStart, CoreThatCannotBeStartedIsAHelperErrorWithTheStartError) {
    const std::wstring core = InstallationPath(L"core-not-executable") + L"\\router\\sing-box.exe";
    std::wstring commandLine = L"\"" + core + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    ASSERT_FALSE(CreateProcessW(core.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                                nullptr, &startup, &started));
    const DWORD startError = GetLastError();
    ASSERT_NE(startError, 2u);
    ASSERT_NE(startError, 5u);

    HostConnection connection;
    connection.WriteCoreScript(ExitingScript(connection));
    const ProcessResult host =
        RunProgram(HelperIn(L"core-not-executable"), connection.HostArguments(), kHostEndMilliseconds);
    EXPECT_EQ(host.exitCode, 1u);
    EXPECT_EQ(ReadFileBytes(connection.state), FailureRecord("start-core", "HELPER_ERROR", startError, 0));
    EXPECT_EQ(ReadFileBytes(connection.done), "done");
}

TEST(HostCoreStart, CoreGetsItsCommandLineAndFolder) {
    HostConnection connection;
    // A quote right after a backslash, blanks, and a folder that ".." takes away again:
    // the path names a real file, yet tests every quoting rule on the way to the core.
    connection.config = connection.directory / L"\"quoted\" name\\..\\core config.txt";
    connection.WriteCoreScript(ExitingScript(connection));
    const ProcessResult host = RunHelper(connection.HostArguments(), kHostEndMilliseconds);
    EXPECT_EQ(host.exitCode, 0u);

    const std::string routerFolder = ToUtf8(FinalPath(DirectoryOf(HelperPath()) + L"\\router"));
    const std::vector<std::pair<std::string, std::string>> record = connection.CoreRecord();
    ASSERT_EQ(record.size(), 6u);
    EXPECT_EQ(record[1].second, "run");
    EXPECT_EQ(record[2].second, "-c");
    EXPECT_EQ(record[3].second, ToUtf8(connection.config)) << "the path did not arrive as one argument";
    EXPECT_EQ(record[4].first, "working-directory");
    EXPECT_EQ(record[4].second, routerFolder);
    // Written out by hand: three backslashes before the first quote, one before the second.
    EXPECT_EQ(record[0].first, "command-line");
    EXPECT_EQ(record[0].second, "\"" + routerFolder + "\\sing-box.exe\" run -c \"" +
                                    ToUtf8(connection.directory.Path()) + R"(\\\"quoted\" name\..\core config.txt")");
}

TEST(HostCoreStart, CoreInheritsOnlyItsPipeAndNul) {
    HostConnection connection;
    // A handle that the host inherits from its parent, as it would from any program that ran it.
    const std::wstring marker = connection.directory / L"the host's parent's file.txt";
    WriteFileBytes(marker, "");
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    const UniqueHandleFile parentsFile(CreateFileW(marker.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                   &inheritable, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(parentsFile);
    const std::wstring coreFiles = connection.directory / L"core files.txt";
    connection.WriteCoreScript(HostConnection::Line("record-files", coreFiles) + "exit 0\n");

    EXPECT_EQ(RunHelper(connection.HostArguments(), kHostEndMilliseconds).exitCode, 0u);
    const std::string files = ReadFileBytes(coreFiles);
    EXPECT_NE(files.find("file: "), std::string::npos) << "the core recorded no file at all";
    EXPECT_EQ(files.find("the host's parent's file.txt"), std::string::npos) << files;
}

}  // namespace
