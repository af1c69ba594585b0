// "--guard" run as a real process beside a real client and a real core (both the stand-in
// core), putting the proxy back through the WinINet stand-in: which process it ends and when,
// what it restores and deletes, and what it leaves alone when it cannot or must not act.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <set>

#include "base/process.h"
#include "proxy/proxy_mutex.h"
#include "proxy/proxy_snapshot.h"
#include "proxy/proxy_snapshot_record.h"
#include "support/file_watch.h"
#include "support/proxy/logon_restores.h"
#include "support/proxy/proxy_fixture.h"

#include <sddl.h>

namespace {

using namespace testing_support;
using namespace proxy_testing;

const std::wstring kLocalProxy = L"127.0.0.1:8080";
// Ample for a guard with nothing to wait for to start, clean up and end under Wine.
constexpr DWORD kPromptly = 10000;
// How long a guard that must wait is left running before the test looks whether it still waits.
constexpr DWORD kSettleTime = 1000;

uint64_t ExitTime(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return FileTimeCount(exited);
}

// One line of the stand-in core's script naming a path (UTF-8).
std::string ScriptLine(const std::string& directive, const std::wstring& path) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), bytes.data(), size, nullptr, nullptr);
    return directive + " " + bytes + "\n";
}

std::set<std::wstring> DirectoryEntries(const std::wstring& directory) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW entry{};
    const HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") names.insert(name);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return names;
}

// Holds a named mutex for as long as it lives, as another helper run would; or, with an access
// list, as another program that created it first with that list.
class HeldMutex {
public:
    explicit HeldMutex(const std::wstring& name, const wchar_t* accessList = nullptr) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (accessList != nullptr &&
            !ConvertStringSecurityDescriptorToSecurityDescriptorW(accessList, SDDL_REVISION_1, &descriptor, nullptr)) {
            return;
        }
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
        mutex_ = CreateMutexW(descriptor ? &attributes : nullptr, TRUE, name.c_str());
        LocalFree(descriptor);
    }
    HeldMutex(const HeldMutex&) = delete;
    HeldMutex& operator=(const HeldMutex&) = delete;
    ~HeldMutex() {
        if (mutex_ == nullptr) return;
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
    }
    bool Held() const { return mutex_ != nullptr; }

private:
    HANDLE mutex_ = nullptr;
};

class Guard : public StandInProxyTest {
protected:
    void SetUp() override {
        StandInProxyTest::SetUp();
        // An empty script runs until it is killed: neither process ends unless something ends it.
        WriteFileBytes(config_, "");
        WriteFileBytes(clientScript_, "");
    }

    std::unique_ptr<ChildProcess> StartCore() const { return StartStandIn(config_); }
    std::unique_ptr<ChildProcess> StartClient() const { return StartStandIn(clientScript_); }
    // A core as an unelevated guard sees the elevated one: it may wait for it and query it, no more.
    std::unique_ptr<ChildProcess> StartCoreTheGuardMayNotEnd() const {
        return StartStandIn(config_, {.accessList = L"D:(A;;0x101000;;;WD)"});
    }

    static std::unique_ptr<ChildProcess> StartStandIn(const std::wstring& script, const ProcessCreation& creation = {}) {
        const std::vector<std::wstring> arguments = {L"run", L"-c", script};
        auto process = std::make_unique<ChildProcess>(StandInCorePath(), arguments, creation);
        EXPECT_NE(process->Handle(), nullptr) << "the stand-in core did not start";
        return process;
    }

    // The id of a process that has run and ended and can no longer be opened. Wine keeps an
    // ended process open-able for a moment after its last handle is closed.
    DWORD EndedProcessId() const {
        const std::wstring script = directory_ / L"ends at once.txt";
        WriteFileBytes(script, "exit 0\n");
        DWORD id = 0;
        {
            const auto process = StartStandIn(script);
            EXPECT_EQ(process->Wait(kPromptly), 0u);
            id = process->Id();
        }
        const bool unopenable = WaitUntil(
            [id] {
                const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
                if (process != nullptr) CloseHandle(process);
                return process == nullptr;
            },
            kPromptly);
        EXPECT_TRUE(unopenable) << "process " << id << " can still be opened";
        return id;
    }

    // `coreCreated`: the core's creation time, as a client that knows it passes it; 0 for none.
    std::vector<std::wstring> GuardArguments(DWORD client, DWORD core, const std::wstring& expectedProxy,
                                             uint64_t coreCreated = 0) const {
        std::vector<std::wstring> arguments = {L"--guard", L"--parent", std::to_wstring(client), L"--core",
                                               std::to_wstring(core), L"--state", state_, L"--config", config_};
        if (!expectedProxy.empty()) {
            arguments.push_back(L"--expected-proxy");
            arguments.push_back(expectedProxy);
        }
        if (coreCreated != 0) {
            arguments.push_back(L"--core-created");
            arguments.push_back(std::to_wstring(coreCreated));
        }
        return arguments;
    }

    // "--proxy-enable" as the client runs it: the snapshot on disk, the local proxy in force.
    void EnableProxy() {
        const ProcessResult enabled = Enable(L"8080");
        ASSERT_EQ(enabled.exitCode, 0u) << "output: " << enabled.output
                                        << (enabled.timedOut ? " (not started, or timed out)" : "");
        snapshot_ = ReadFileBytes(state_);
        ASSERT_EQ(DecodeProxySnapshot(snapshot_).appliedProxyServer, kLocalProxy);
        enabledSettings_ = standIn_.Settings();
        ASSERT_EQ(enabledSettings_.proxyServer, kLocalProxy);
        standIn_.ClearLog();
    }

    void ExpectUserSettingsBack() const {
        EXPECT_EQ(standIn_.Settings(), WithEmptyForNull(TypicalUserSettings()));
        EXPECT_FALSE(PathExists(state_));
    }

    void ExpectProxyLeftEnabled() const {
        EXPECT_EQ(standIn_.Settings(), enabledSettings_);
        EXPECT_EQ(ReadFileBytes(state_), snapshot_);
        EXPECT_TRUE(SetCalls().empty());
    }

    std::wstring config_ = directory_ / L"core config.json";
    std::wstring clientScript_ = directory_ / L"client script.txt";
    std::string snapshot_;
    StandInSettings enabledSettings_;
};

TEST_F(Guard, ClientEndingFirstEndsTheCoreWithCode0ThenRestoresAndDeletes) {
    ASSERT_NO_FATAL_FAILURE(EnableProxy());
    const auto client = StartClient();
    const auto core = StartCore();
    ChildProcess guard(HelperPath(), GuardArguments(client->Id(), core->Id(), kLocalProxy, core->CreationTime()));
    ASSERT_NE(guard.Handle(), nullptr);

    Sleep(kSettleTime);
    ASSERT_TRUE(guard.IsRunning()) << "the guard returned while the client and the core still ran";
    EXPECT_TRUE(core->IsRunning());
    EXPECT_TRUE(PathExists(config_));
    ExpectProxyLeftEnabled();

    client->Terminate(1);
    EXPECT_EQ(guard.Wait(kPromptly), 0u);
    EXPECT_EQ(core->Wait(kPromptly), 0u);
    const uint64_t clientEnded = ExitTime(client->Handle());
    ASSERT_NE(clientEnded, 0u);
    EXPECT_GE(ExitTime(core->Handle()), clientEnded);
    EXPECT_GE(ExitTime(guard.Handle()), clientEnded);
    ExpectUserSettingsBack();
    EXPECT_FALSE(PathExists(config_));
}

TEST_F(Guard, CoreItMayNotEndIsLeftToTheHostThenTheProxyAndConfigurationGo) {
    for (const bool hostEndsCore : {true, false}) {
        SCOPED_TRACE(hostEndsCore ? "the host ends the core" : "the core outlives the guard's wait");
        ASSERT_NO_FATAL_FAILURE(EnableProxy());
        WriteFileBytes(config_, "");
        const auto client = StartClient();
        const auto core = StartCoreTheGuardMayNotEnd();
        const HANDLE forEnding = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, core->Id());
        ASSERT_EQ(forEnding, nullptr) << "the core's access list was not enforced";
        ChildProcess guard(HelperPath(), GuardArguments(client->Id(), core->Id(), kLocalProxy, core->CreationTime()));
        ASSERT_NE(guard.Handle(), nullptr);

        Sleep(kSettleTime);
        ASSERT_TRUE(guard.IsRunning()) << "the guard returned while the client and the core still ran";
        ExpectProxyLeftEnabled();
        client->Terminate(1);
        Sleep(kSettleTime / 2);
        EXPECT_TRUE(guard.IsRunning()) << "the guard went on while the core still ran";
        EXPECT_TRUE(core->IsRunning());
        EXPECT_TRUE(PathExists(config_)) << "the configuration went while the core could still read it";
        if (hostEndsCore) core->Terminate(0);

        EXPECT_EQ(guard.Wait(kPromptly), 0u);
        EXPECT_EQ(core->IsRunning(), !hostEndsCore);
        ExpectUserSettingsBack();
        EXPECT_FALSE(PathExists(config_));
    }
}

// Meanwhile the proxy state file is lost: the guard restores its snapshot from the record.
TEST_F(Guard, CoreEndingFirstLeavesTheClientRunning) {
    ASSERT_NO_FATAL_FAILURE(EnableProxy());
    const std::wstring coreMayExit = directory_ / L"core may exit";
    WriteFileBytes(config_, ScriptLine("wait-for", coreMayExit) + "exit 3\n");
    const auto client = StartClient();
    const auto core = StartCore();
    ChildProcess guard(HelperPath(), GuardArguments(client->Id(), core->Id(), kLocalProxy));
    ASSERT_NE(guard.Handle(), nullptr);

    Sleep(kSettleTime);
    ASSERT_TRUE(guard.IsRunning()) << "the guard returned while the client and the core still ran";
    EXPECT_TRUE(PathExists(config_));
    ExpectProxyLeftEnabled();

    ASSERT_TRUE(DeleteFileW(state_.c_str()));
    WriteFileBytes(coreMayExit, "");
    EXPECT_EQ(core->Wait(kPromptly), 3u);
    EXPECT_EQ(guard.Wait(kPromptly), 0u);
    EXPECT_TRUE(client->IsRunning());
    ExpectUserSettingsBack();
    EXPECT_TRUE(ReadSnapshotRecord().empty());
    EXPECT_TRUE(RegisteredLogonRestores().empty());
    EXPECT_FALSE(PathExists(config_));
}

TEST_F(Guard, ClientAlreadyGoneEndsTheCoreWithoutWaiting) {
    ASSERT_NO_FATAL_FAILURE(EnableProxy());
    const DWORD client = EndedProcessId();
    const auto core = StartCore();
    // No expected proxy: the restore then does not compare the saved one.
    const ProcessResult result = RunHelper(GuardArguments(client, core->Id(), L""), kPromptly);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(core->Wait(kPromptly), 0u);
    ExpectUserSettingsBack();
    EXPECT_FALSE(PathExists(config_));
}

TEST_F(Guard, CoreAlreadyGoneExits1AndTouchesNothing) {
    ASSERT_NO_FATAL_FAILURE(EnableProxy());
    const auto client = StartClient();
    const DWORD core = EndedProcessId();
    const ProcessResult result = RunHelper(GuardArguments(client->Id(), core, kLocalProxy), kPromptly);
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_EQ(result.output, "");
    EXPECT_TRUE(client->IsRunning());
    ExpectProxyLeftEnabled();
    EXPECT_TRUE(PathExists(config_));
}

// The core ended and its id went to another program of the user; the client is gone too. Given
// the core's creation time, the guard tells that program from the core and leaves it alone.
TEST_F(Guard, CoreIdNowAnotherProcessExits1AndTouchesNothing) {
    ASSERT_NO_FATAL_FAILURE(EnableProxy());
    const DWORD client = EndedProcessId();
    const auto other = StartStandIn(clientScript_);
    for (const int64_t offset : {+1, -1}) {
        const ProcessResult result =
            RunHelper(GuardArguments(client, other->Id(), kLocalProxy, other->CreationTime() + offset), kPromptly);
        EXPECT_EQ(result.exitCode, 1u);
        EXPECT_TRUE(other->IsRunning()) << "the guard ended a process that was not the core";
        ExpectProxyLeftEnabled();
        EXPECT_TRUE(PathExists(config_));
    }
}

TEST_F(Guard, NoProxyStateFileSkipsOnlyTheRestore) {
    ASSERT_NO_FATAL_FAILURE(EnableProxy());
    // Were a restore tried on the empty path, it would wait for this mutex far longer than kPromptly.
    const HeldMutex emptyPathMutex(ProxyMutexName(L""));
    ASSERT_TRUE(emptyPathMutex.Held());
    for (const bool given : {true, false}) {
        SCOPED_TRACE(given ? "empty --state" : "no --state");
        WriteFileBytes(config_, "");
        const auto core = StartCore();
        std::vector<std::wstring> arguments = {L"--guard", L"--parent", std::to_wstring(EndedProcessId()),
                                               L"--core", std::to_wstring(core->Id()), L"--config", config_};
        if (given) {
            arguments.push_back(L"--state");
            arguments.push_back(L"");
        }
        const ProcessResult result = RunHelper(arguments, kPromptly);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_EQ(core->Wait(kPromptly), 0u);
        EXPECT_FALSE(PathExists(config_));
        ExpectProxyLeftEnabled();
    }
}

TEST_F(Guard, UnusableProxyStateFileDoesNotStopTheDeletion) {
    ASSERT_EQ(Enable(L"8080").exitCode, 0u);
    const std::string valid = ReadFileBytes(state_);
    ASSERT_EQ(Restore().exitCode, 0u);
    standIn_.ClearLog();
    struct Case {
        const char* name;
        std::optional<std::string> content;
    };
    const Case cases[] = {
        {"missing", std::nullopt},
        {"not a snapshot", std::string("not a proxy snapshot")},
        {"cut short", valid.substr(0, valid.size() - 1)},
    };
    for (const Case& unusable : cases) {
        SCOPED_TRACE(unusable.name);
        DeleteFileW(state_.c_str());
        if (unusable.content) WriteFileBytes(state_, *unusable.content);
        WriteFileBytes(config_, "");
        const auto core = StartCore();
        const ProcessResult result = RunHelper(GuardArguments(EndedProcessId(), core->Id(), L""), kPromptly);
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_EQ(core->Wait(kPromptly), 0u);
        EXPECT_FALSE(PathExists(config_));
        if (unusable.content) {
            EXPECT_EQ(ReadFileBytes(state_), *unusable.content);
        } else {
            EXPECT_FALSE(PathExists(state_));
        }
        EXPECT_EQ(standIn_.Settings(), WithEmptyForNull(TypicalUserSettings()));
        EXPECT_TRUE(SetCalls().empty());
    }
}

TEST_F(Guard, ConfigurationMissingOrNotNamedStillLetsTheRestoreRun) {
    for (const bool named : {true, false}) {
        SCOPED_TRACE(named ? "--config names no file" : "no --config");
        ASSERT_NO_FATAL_FAILURE(EnableProxy());
        const auto core = StartCore();
        std::vector<std::wstring> arguments = GuardArguments(EndedProcessId(), core->Id(), kLocalProxy);
        const auto config = std::find(arguments.begin(), arguments.end(), L"--config");
        if (named) {
            config[1] = directory_ / L"no such config.json";
        } else {
            arguments.erase(config, config + 2);
        }
        const ProcessResult result = RunHelper(arguments, kPromptly);
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_EQ(core->Wait(kPromptly), 0u);
        ExpectUserSettingsBack();
        EXPECT_TRUE(PathExists(config_));
    }
}

TEST_F(Guard, ExpectedProxyOtherThanTheSavedOneLeavesSettingsAndSnapshot) {
    ASSERT_NO_FATAL_FAILURE(EnableProxy());
    const auto core = StartCore();
    const ProcessResult result =
        RunHelper(GuardArguments(EndedProcessId(), core->Id(), L"127.0.0.1:9090"), kPromptly);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(core->Wait(kPromptly), 0u);
    ExpectProxyLeftEnabled();
    EXPECT_FALSE(PathExists(config_));
}

TEST_F(Guard, LateGuardLeavesTheNextConnectionsSnapshotAndConfigurationAlone) {
    ASSERT_NO_FATAL_FAILURE(EnableProxy());
    const auto client = StartClient();
    const auto core = StartCore();
    ChildProcess guard(HelperPath(), GuardArguments(client->Id(), core->Id(), kLocalProxy));
    ASSERT_NE(guard.Handle(), nullptr);
    Sleep(kSettleTime);
    ASSERT_TRUE(guard.IsRunning()) << "the guard returned while the client and the core still ran";

    // Before this guard gets to clean up, the next connection has put the user's settings back
    // and connected again, on the same files and the same port. The file system may give its
    // snapshot the earlier file's identity (ext4, under Wine, hands on the inode just freed): it
    // connects again until that happens, if it does; the guard knows the earlier one by its id.
    // (The earlier configuration is kept aside, so that the new one cannot take its identity.)
    const std::optional<FileIdentity> earlier = IdentityAt(state_);
    ASSERT_TRUE(MoveFileW(config_.c_str(), (directory_ / L"earlier config").c_str()));
    WriteFileBytes(config_, "the next connection's");
    for (int attempt = 0; attempt < 10; ++attempt) {
        ASSERT_EQ(Restore().exitCode, 0u);
        ASSERT_NO_FATAL_FAILURE(EnableProxy());
        if (IdentityAt(state_) == earlier) break;
    }
    if (IdentityAt(state_) != earlier) std::printf("(the next snapshot never got the earlier one's identity)\n");

    client->Terminate(1);
    EXPECT_EQ(guard.Wait(kPromptly), 0u);
    ExpectProxyLeftEnabled();
    EXPECT_EQ(ReadFileBytes(config_), "the next connection's");
    EXPECT_EQ(RegisteredLogonRestores().size(), 1u);
    EXPECT_EQ(ReadSnapshotRecord().size(), 1u);
}

// Held by another helper (the restore gives up after 15 s), or created first by another program
// with an access list that shuts the user out (refused at once): tried again until it is free.
TEST_F(Guard, RestoreThatFindsTheProxyLockHeldOrShutIsTriedAgain) {
    for (const bool shut : {true, false}) {
        SCOPED_TRACE(shut ? "shut" : "held");
        ASSERT_NO_FATAL_FAILURE(EnableProxy());
        WriteFileBytes(config_, "");
        const auto core = StartCore();
        auto anotherProgram = std::make_unique<HeldMutex>(ProxyMutexName(state_), shut ? L"D:" : nullptr);
        ASSERT_TRUE(anotherProgram->Held());
        ChildProcess guard(HelperPath(), GuardArguments(EndedProcessId(), core->Id(), kLocalProxy));
        ASSERT_NE(guard.Handle(), nullptr);
        Sleep(shut ? 3 * kSettleTime : kProxyMutexWaitMilliseconds + 2000);
        EXPECT_TRUE(guard.IsRunning());
        ExpectProxyLeftEnabled();
        anotherProgram.reset();
        EXPECT_EQ(guard.Wait(kProxyMutexWaitMilliseconds), 0u);
        ExpectUserSettingsBack();
        EXPECT_FALSE(PathExists(config_));
    }
}

TEST_F(Guard, ProcessIdThatDoesNotConvertEndsInTheFailureHandlerAndTouchesNothing) {
    ASSERT_NO_FATAL_FAILURE(EnableProxy());
    const auto client = StartClient();
    const auto core = StartCore();
    const std::wstring clientId = std::to_wstring(client->Id());
    const std::wstring coreId = std::to_wstring(core->Id());
    struct Case {
        const char* name;
        std::vector<std::wstring> ids;
    };
    const Case cases[] = {
        {"no --parent", {L"--core", coreId}},
        {"--parent not a number", {L"--parent", L"client", L"--core", coreId}},
        {"--parent beyond 32 bits", {L"--parent", L"4294967296", L"--core", coreId}},
        {"no --core", {L"--parent", clientId}},
        {"--core not a number", {L"--parent", clientId, L"--core", L"core"}},
        {"--core-created not a number", {L"--parent", clientId, L"--core", coreId, L"--core-created", L"today"}},
    };
    const std::wstring done = directory_ / L"done";
    const std::set<std::wstring> before = DirectoryEntries(directory_.Path());
    for (const Case& bad : cases) {
        for (const bool withDone : {false, true}) {
            SCOPED_TRACE(std::string(bad.name) + (withDone ? ", with --done" : ", without --done"));
            std::vector<std::wstring> arguments = {L"--guard", L"--state", state_, L"--config", config_,
                                                   L"--expected-proxy", kLocalProxy};
            arguments.insert(arguments.end(), bad.ids.begin(), bad.ids.end());
            if (withDone) arguments.insert(arguments.end(), {L"--done", done});

            const ProcessResult result = RunHelper(arguments, kPromptly);
            EXPECT_EQ(result.exitCode, 2u);
            EXPECT_EQ(result.output, "");
            std::set<std::wstring> expected = before;
            if (withDone) expected.insert(L"done");
            EXPECT_EQ(DirectoryEntries(directory_.Path()), expected);
            if (withDone) {
                EXPECT_EQ(ReadFileBytes(done), "done");
            }
            DeleteFileW(done.c_str());
            EXPECT_TRUE(client->IsRunning());
            EXPECT_TRUE(core->IsRunning());
            ExpectProxyLeftEnabled();
            EXPECT_TRUE(standIn_.Log().empty());
        }
    }
}

}  // namespace
