// The elevated host writes where a client's options say, and any process of the user can plant
// links there first: at the temporary names the host writes through, or at the final names.
// Whatever is planted, no file that a link points to is written, moved or deleted, and where no
// link is in the way the record and the done marker arrive.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/file_watch.h"
#include "support/host_connection.h"
#include "support/pipe_server.h"
#include "support/tokens.h"
#include "support/unix_side.h"

namespace {

using namespace testing_support;
using namespace host_testing;

constexpr DWORD kHostEndMilliseconds = 15000;
// Longer than any fixed bound of retries a write could have.
constexpr DWORD kReaderHoldMilliseconds = 1500;

// A file of the user's that a link points to, and what it must still hold afterwards.
struct Target {
    std::wstring path;
    std::string content;
};

// Files elsewhere, as an attacker would aim at them.
struct Targets {
    TemporaryDirectory elsewhere;
    Target forState{elsewhere / L"aimed at by the state file", "the user's precious file"};
    Target forDone{elsewhere / L"aimed at by the done marker", "another precious file"};

    Targets() {
        WriteFileBytes(forState.path, forState.content);
        WriteFileBytes(forDone.path, forDone.content);
    }
    void ExpectUntouched() const {
        for (const Target* target : {&forState, &forDone}) {
            EXPECT_EQ(ReadFileBytes(target->path), target->content) << "a link steered the host into this file";
        }
    }
};

void ExpectRecordAndDoneMarker(const HostConnection& connection) {
    const std::string record = ReadFileBytes(connection.state);
    EXPECT_TRUE(IsParentGoneRecord(record)) << record;
    EXPECT_EQ(ReadFileBytes(connection.done), "done");
}

enum class Planted { OrdinaryLeftover, SymbolicLink, HardLink };

void Plant(Planted kind, const std::wstring& name, const Target& target) {
    switch (kind) {
        case Planted::OrdinaryLeftover: WriteFileBytes(name, "left over by a crash"); break;
        case Planted::SymbolicLink:
            PlantSymbolicLink(name, target.path);
            ASSERT_EQ(ReadFileBytes(name), target.content) << "no link was planted";
            break;
        case Planted::HardLink: ASSERT_TRUE(CreateHardLinkW(name.c_str(), target.path.c_str(), nullptr)); break;
    }
}

TEST(HostClientFiles, WhatLiesAtTheTemporaryNamesNeverSteersAWrite) {
    for (const Planted kind : {Planted::OrdinaryLeftover, Planted::SymbolicLink, Planted::HardLink}) {
        SCOPED_TRACE(static_cast<int>(kind));
        const Targets targets;
        const ConnectionWithWrongCreationTime connection;
        Plant(kind, connection.state + L".tmp", targets.forState);
        Plant(kind, connection.done + L".tmp", targets.forDone);

        EXPECT_EQ(RunHelper(connection.HostArguments(), kHostEndMilliseconds).exitCode, 1u);
        ExpectRecordAndDoneMarker(connection);
        targets.ExpectUntouched();
        if (kind == Planted::OrdinaryLeftover) {
            EXPECT_FALSE(PathExists(connection.state + L".tmp")) << "a crash's leftover is replaced";
            EXPECT_FALSE(PathExists(connection.done + L".tmp"));
        } else {
            EXPECT_EQ(ReadFileBytes(connection.state + L".tmp"), targets.forState.content) << "the link was removed";
            EXPECT_EQ(ReadFileBytes(connection.done + L".tmp"), targets.forDone.content);
        }
    }
}

// Readers that hold the last record's files (read sharing only, as most runtimes open) for far
// longer than any fixed bound of retries: the host waits for them, the record before the marker.
TEST(HostClientFiles, BusyReadersAndReadersThatHoldOnCostNoRecordAndNoDoneMarker) {
    constexpr size_t kHostRuns = 200;
    for (const int readers : {1, 2}) {
        const LostWrites lost = RunHostsBesideBusyReaders(readers, kHostRuns);
        EXPECT_EQ(lost.records, 0u) << "of " << kHostRuns << " host runs, with " << readers << " reader(s)";
        EXPECT_EQ(lost.doneMarkers, 0u) << "of " << kHostRuns << " host runs, with " << readers << " reader(s)";
    }
    for (const auto& [holdState, holdDone] : {std::pair{true, false}, std::pair{false, true}, std::pair{true, true}}) {
        SCOPED_TRACE(std::string(holdState ? "state file held " : "") + (holdDone ? "done marker held" : ""));
        const HeldFilesRun run = RunHostWithFilesHeld(holdState, holdDone, kReaderHoldMilliseconds);
        EXPECT_TRUE(run.runningWhenLetGo) << "the host gave up on a held file";
        EXPECT_FALSE(run.doneBeforeRecord);
        EXPECT_EQ(run.exitCode, 1u);
        EXPECT_TRUE(run.recordArrived);
        EXPECT_TRUE(run.doneArrived);
    }
}

TEST(HostClientFiles, LinksAtTheFinalNamesAreReplacedNotFollowed) {
    const Targets targets;
    const ConnectionWithWrongCreationTime connection;
    PlantSymbolicLink(connection.state, targets.forState.path);
    PlantSymbolicLink(connection.done, targets.forDone.path);
    ASSERT_EQ(ReadFileBytes(connection.state), targets.forState.content) << "no link was planted";

    EXPECT_EQ(RunHelper(connection.HostArguments(), kHostEndMilliseconds).exitCode, 1u);
    ExpectRecordAndDoneMarker(connection);
    targets.ExpectUntouched();
}

TEST(HostClientFiles, LinksReplantedWhileTheHostRunsNeverReachTheirTargets) {
    const Targets targets;
    const ConnectionWithWrongCreationTime connection;
    {
        const TemporaryDirectory planterFiles;
        const LinkReplanter replanter({{connection.state + L".tmp", targets.forState.path},
                                       {connection.done + L".tmp", targets.forDone.path}},
                                      planterFiles.Path());
        ASSERT_TRUE(replanter.IsPlanting());
        for (int run = 0; run < 25; ++run) RunHelper(connection.HostArguments(), kHostEndMilliseconds);
        EXPECT_TRUE(replanter.IsPlanting()) << "the links were not planted throughout";
    }
    targets.ExpectUntouched();

    // Once nothing is in the way, the records arrive again.
    RunUnixShell("rm -f '" + UnixFileName(connection.state) + ".tmp' '" + UnixFileName(connection.done) + ".tmp'");
    DeleteFileW(connection.done.c_str());
    EXPECT_EQ(RunHelper(connection.HostArguments(), kHostEndMilliseconds).exitCode, 1u);
    ExpectRecordAndDoneMarker(connection);
}

// A client whose token is not the host's: under Wine every process's own token is the same.
struct ClientWithATokenOfItsOwn {
    ClientWithATokenOfItsOwn(HostConnection& connection, const std::string& script) {
        const std::wstring scriptPath = connection.directory / L"client script.txt";
        WriteFileBytes(scriptPath, script);
        const UniqueHandleNull token = UnelevatedClientToken();
        process = std::make_unique<ChildProcess>(StandInCorePath(), std::vector<std::wstring>{L"run", L"-c", scriptPath},
                                                 ProcessCreation{.token = token.Get()});
        connection.clientId = process->Id();
        connection.clientCreated = process->CreationTime();
    }
    std::unique_ptr<ChildProcess> process;
};

// The rights of every token the host impersonates while it runs. The state file is held open for
// a while, so the host tries the move of its records again and again, impersonating each time;
// once the file is let go, the last record arrives.
std::set<std::string> RightsOfTheHostsRecordWrites(const HostConnection& connection) {
    WriteFileBytes(connection.state, "the record before");
    std::set<std::string> seen;
    std::optional<ChildProcess> host;
    {
        const HeldFile held(connection.state);
        EXPECT_TRUE(held.IsHeld());
        host.emplace(HelperPath(), connection.HostArguments());
        const ULONGLONG heldUntil = GetTickCount64() + kReaderHoldMilliseconds;
        while (host->IsRunning() && GetTickCount64() < heldUntil) seen.merge(ImpersonatedRights(host->Id()));
    }
    host->Wait(kHostEndMilliseconds);
    EXPECT_FALSE(host->IsRunning());
    EXPECT_NE(ReadFileBytes(connection.state), "the record before") << "the last record was lost";
    return seen;
}

TEST(HostClientFiles, WorkOnThemRunsWithTheClientsUnelevatedTokenOnceTheClientIsVerified) {
    const std::string ownRights = ProcessTokenRights(GetCurrentProcess());
    {
        SCOPED_TRACE("a verified client: its token, without a privilege but the one to traverse folders");
        HostConnection connection;
        const ClientWithATokenOfItsOwn client(connection, "");
        const std::string clientRights = ProcessTokenRights(client.process->Handle());
        ASSERT_NE(clientRights, ownRights);
        ASSERT_NE(WithOnlyTraversePrivilege(clientRights), clientRights);
        connection.WriteCoreScript("exit 0\n");
        EXPECT_EQ(RightsOfTheHostsRecordWrites(connection),
                  std::set<std::string>{WithOnlyTraversePrivilege(clientRights)});
    }
    {
        SCOPED_TRACE("a verified client with a full administrator's token: never taken as it is");
        HostConnection connection;
        ASSERT_FALSE(AdministratorsOnlyDeny(ownRights));
        connection.WriteCoreScript("exit 0\n");
        const std::set<std::string> seen = RightsOfTheHostsRecordWrites(connection);
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_TRUE(AdministratorsOnlyDeny(*seen.begin())) << *seen.begin();
        EXPECT_EQ(*seen.begin(), WithOnlyTraversePrivilege(*seen.begin())) << "a privilege stayed";
        EXPECT_EQ(seen.begin()->substr(0, seen.begin()->find(';')), ownRights.substr(0, ownRights.find(';')));
    }
    {
        SCOPED_TRACE("a client whose creation time does not match: its token is not to be trusted");
        HostConnection connection;
        const ClientWithATokenOfItsOwn client(connection, "");
        const std::string clientRights = ProcessTokenRights(client.process->Handle());
        connection.clientCreated += 1;
        const std::set<std::string> seen = RightsOfTheHostsRecordWrites(connection);
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_NE(*seen.begin(), clientRights);
        EXPECT_NE(*seen.begin(), ownRights);
        // The host's own rights, with Administrators for deny only.
        EXPECT_TRUE(AdministratorsOnlyDeny(*seen.begin())) << *seen.begin();
    }
    {
        SCOPED_TRACE("a client whose token the host cannot open");
        HostConnection connection;
        const ClientWithATokenOfItsOwn client(connection, "lock-token\n");
        WaitUntil([&] { return ProcessTokenRights(client.process->Handle()).empty(); }, kHostEndMilliseconds);
        connection.WriteCoreScript(HostConnection::Line("record", connection.coreRecord) + "exit 0\n");
        EXPECT_EQ(RunHelper(connection.HostArguments(), kHostEndMilliseconds).exitCode, 1u);
        EXPECT_FALSE(PathExists(connection.state));
        EXPECT_FALSE(PathExists(connection.done)) << "written without the client's token";
        EXPECT_FALSE(PathExists(connection.coreRecord)) << "the core was started";
    }
}

// Paths that reach a server, a pipe or a device, or that would be read against the host's own
// folder, are refused from their text: the host starts nothing, writes nothing and opens none of
// them (a pipe served there sees no one).
TEST(HostClientFiles, PathsThatAreNoLocalFilesAreRefusedUnopened) {
    const std::wstring pipe = L"\\\\.\\pipe\\keldrix-client-path-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring relative = L"keldrix relative " + std::to_wstring(GetCurrentProcessId());
    const std::wstring forms[] = {pipe, L"\\\\127.0.0.1\\share\\state", L"\\\\?\\UNC\\127.0.0.1\\share\\state",
                                  relative};
    for (const std::wstring option : {L"--state", L"--done", L"--stop", L"--config"}) {
        for (const std::wstring& form : forms) {
            SCOPED_TRACE(ToUtf8(option + L" " + form));
            HostConnection connection;
            connection.WriteCoreScript(HostConnection::Line("record", connection.coreRecord) + "exit 0\n");
            std::vector<std::wstring> arguments = connection.HostArguments();
            *(std::find(arguments.begin(), arguments.end(), option) + 1) = form;
            int connections = 0;
            {
                const PipeServer server(pipe);
                const PipeServer temporary(pipe + L".tmp");
                EXPECT_EQ(RunHelper(arguments, kHostEndMilliseconds).exitCode, 1u);
                connections = server.Connections() + temporary.Connections();
            }
            EXPECT_EQ(connections, 0);
            EXPECT_FALSE(PathExists(connection.state));
            EXPECT_FALSE(PathExists(connection.done));
            EXPECT_FALSE(PathExists(connection.coreRecord)) << "the core was started";
            EXPECT_FALSE(PathExists(relative)) << "written in the host's own folder";
        }
    }
}

}  // namespace
