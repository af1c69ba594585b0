#include "client_steps.h"

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "base/process.h"
#include "base/system_info.h"
#include "base/text.h"
#include "base/unique_resource.h"
#include "base/win32.h"
#include "core_config.h"
#include "core_finder.h"
#include "helper_runner.h"
#include "leftovers.h"
#include "loopback_port.h"
#include "state_watch.h"
#include "status_record.h"

namespace {

// The host gives up on readiness after 30 s; the rest is for starting it and the consent prompt.
constexpr unsigned kReadyWithinMilliseconds = 45000;
constexpr unsigned kDoneAfterFailureWithinMilliseconds = 10000;
constexpr unsigned kHostEndsWithinMilliseconds = 15000;
constexpr DWORD kGuardEndsWithinMilliseconds = 15000;

std::atomic<bool> disconnectRequested{false};

BOOL WINAPI OnConsoleControl(DWORD) {
    disconnectRequested = true;
    return TRUE;
}

struct Paths {
    std::wstring helper, core, work, config, state, stop, done, proxyState;
};

// What one connection carries from step to step.
struct Connection {
    Paths paths;
    uint16_t apiPort = 0;
    uint16_t proxyPort = 0;
    // The "--launch" run, whose child is the host, and when it started: how the core is found.
    DWORD launcherId = 0;
    uint64_t launchedAt = 0;
};

// How the host ended.
struct HostEnding {
    bool doneMarkerWritten = false;
    bool failed = false;
};

std::wstring OwnProcessId() { return FormatUnsigned(GetCurrentProcessId()); }

std::wstring LocalProxy(uint16_t port) { return L"127.0.0.1:" + FormatUnsigned(port); }

std::string SystemMessage(DWORD code) {
    const std::string message = SystemMessageLine(code);
    return message.empty() ? "no system text" : message;
}

std::wstring WorkFolder(const ClientSettings& settings) {
    if (!settings.workDirectory.empty()) return settings.workDirectory;
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    return std::wstring(temp) + L"keldrix-client-" + OwnProcessId();
}

std::wstring HelperOf(const ClientSettings& settings) {
    return settings.helperPath.empty() ? DirectoryOf(GetExecutablePath()) + L"\\KELDRIX-Network.exe"
                                       : settings.helperPath;
}

Paths MakePaths(const ClientSettings& settings) {
    Paths paths;
    paths.helper = HelperOf(settings);
    paths.core = DirectoryOf(paths.helper) + L"\\router\\sing-box.exe";
    paths.work = WorkFolder(settings);
    CreateDirectoryW(paths.work.c_str(), nullptr);
    paths.config = paths.work + L"\\core-config.txt";
    paths.state = paths.work + L"\\state.json";
    paths.stop = paths.work + L"\\stop";
    paths.done = paths.work + L"\\done";
    paths.proxyState = settings.proxyStatePath.empty() ? DefaultProxyStatePath() : settings.proxyStatePath;
    return paths;
}

void PrintFailure(const StatusRecord& record) {
    std::printf("[client] the connection failed at stage \"%s\" with code %s: %s.\n", record.stage.c_str(),
                record.code.c_str(), ExplainCode(record.code).c_str());
    if (record.win32 != 0) {
        std::printf("[client]   Windows error %u: %s\n", record.win32, SystemMessage(record.win32).c_str());
    }
    if (record.stage == "start-core" || record.stage == "core-exit") {
        std::printf("[client]   the core's exit code was %u\n", record.exitCode);
    }
}

void PrintRecord(const std::string& json, const StatusRecord&) {
    std::printf("[client] state file: %s\n", json.c_str());
    std::fflush(stdout);
}

void PrintNotReady(Outcome outcome, const StatusRecord& last) {
    switch (outcome) {
        case Outcome::Ready: break;
        case Outcome::Failed: PrintFailure(last); break;
        case Outcome::EndedWithoutRecord:
            std::printf("[client] the host ended without a record (stopped early)\n");
            break;
        case Outcome::TimedOut: std::printf("[client] no outcome from the host within 45 seconds\n"); break;
    }
}

// Where the connection's files go and which local ports it uses; false, after saying why, when
// there is no place for the proxy state file or no free port.
bool PlanConnection(const ClientSettings& settings, Connection& connection) {
    connection.paths = MakePaths(settings);
    connection.apiPort = FreeLoopbackPort();
    connection.proxyPort = FreeLoopbackPort();
    std::printf("[client] working folder: %s\n", ToUtf8(connection.paths.work).c_str());
    std::printf("[client] proxy state file: %s\n", ToUtf8(connection.paths.proxyState).c_str());
    if (connection.paths.proxyState.empty()) {
        std::printf("[client] no folder for the proxy state file: %%LOCALAPPDATA%% cannot be found\n");
        return false;
    }
    if (connection.apiPort == 0 || connection.proxyPort == 0) {
        std::printf("[client] no free port on 127.0.0.1\n");
        return false;
    }
    return true;
}

// What the last connection may have left: the user's proxy still switched (the whole session
// ended at once), and its record and markers in the working folder.
bool ClearLeftovers(const Paths& paths) {
    return RestoreLeftOverProxy(paths.helper, paths.proxyState) &&
           RemoveStaleConnectionFiles({{"state file", paths.state}, {"stop marker", paths.stop},
                                       {"done marker", paths.done}});
}

// Runs "--launch", which starts the elevated host and returns at once.
bool Launch(const ClientSettings& settings, Connection& connection) {
    const Paths& paths = connection.paths;
    connection.launchedAt = CurrentFileTime();
    const HelperRun launch = RunHelperAndShow(
        paths.helper, {L"--launch", L"--config", paths.config, L"--parent", OwnProcessId(), L"--api",
                       FormatUnsigned(connection.apiPort), L"--interface", settings.interfaceName, L"--state",
                       paths.state, L"--stop", paths.stop, L"--done", paths.done});
    connection.launcherId = launch.processId;
    if (launch.exitCode == 0) return true;
    std::printf("[client] the launch failed: Windows error %lu: %s\n", launch.exitCode,
                SystemMessage(launch.exitCode).c_str());
    return false;
}

// Watches the state file for "ready"; otherwise says why not, once the host has finished.
bool WaitUntilReady(const Paths& paths) {
    StatusRecord last;
    const Outcome outcome = WaitForOutcome(paths.state, paths.done, kReadyWithinMilliseconds, PrintRecord, last);
    if (outcome == Outcome::Ready) return true;
    PrintNotReady(outcome, last);
    if (WaitForDoneMarker(paths.done, kDoneAfterFailureWithinMilliseconds)) std::printf("[client] done marker: done\n");
    return false;
}

HelperRun SwitchProxyOn(const Connection& connection) {
    std::printf("[client] switching the system proxy to %s\n", ToUtf8(LocalProxy(connection.proxyPort)).c_str());
    const std::wstring port = FormatUnsigned(connection.proxyPort);
    return RunHelperAndShow(connection.paths.helper,
                            {L"--proxy-enable", L"--port", port, L"--state", connection.paths.proxyState});
}

// The guard ends the core if this client dies first, then puts the proxy back and deletes the
// configuration. It needs the core's id and creation time, which the host does not report.
UniqueHandleNull StartGuard(const Connection& connection) {
    const Paths& paths = connection.paths;
    const FoundCore core = FindCore(paths.core, connection.launcherId, connection.launchedAt);
    std::printf("[client] core process: %lu\n", core.id);
    UniqueHandleNull guard = StartHelperAndShow(
        paths.helper, {L"--guard", L"--parent", OwnProcessId(), L"--core", FormatUnsigned(core.id), L"--core-created",
                       FormatUnsigned(core.created), L"--state", paths.proxyState, L"--config", paths.config,
                       L"--expected-proxy", LocalProxy(connection.proxyPort)});
    std::printf("[client] guard started\n");
    return guard;
}

// Holds the connection; returns false when the host ended on its own (the core stopped).
bool Hold(const std::wstring& donePath, int seconds) {
    if (seconds > 0) std::printf("[client] connected; holding the connection for %d s\n", seconds);
    else std::printf("[client] connected; press Ctrl+C to disconnect\n");
    std::fflush(stdout);
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    while (!disconnectRequested && (seconds == 0 || GetTickCount64() < end)) {
        if (DoneMarkerWritten(donePath)) return false;
        Sleep(100);
    }
    return true;
}

void Disconnect(const std::wstring& stopPath) {
    std::printf("[client] disconnecting: creating the stop marker\n");
    const UniqueHandleFile stopMarker(
        CreateFileW(stopPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
}

// Waits for the done marker and reads the host's last record.
HostEnding WaitForTheHostToEnd(const Paths& paths) {
    HostEnding ending;
    ending.doneMarkerWritten = WaitForDoneMarker(paths.done, kHostEndsWithinMilliseconds);
    std::string lastRecord;
    ReadFileBriefly(paths.state, lastRecord);
    std::printf("[client] done marker: %s; last record: %s\n", ending.doneMarkerWritten ? "done" : "missing",
                lastRecord.c_str());
    StatusRecord record;
    ending.failed = ParseStatusRecord(lastRecord, record) && record.failed;
    if (ending.failed) PrintFailure(record);
    return ending;
}

HelperRun PutProxyBack(const Paths& paths) {
    std::printf("[client] putting the system proxy back\n");
    return RunHelperAndShow(paths.helper, {L"--proxy-restore", L"--state", paths.proxyState});
}

int Summarise(const HelperRun& enable, DWORD guardExit, const HostEnding& ending, const HelperRun& restore) {
    std::printf("[client] summary: launch 0, ready, proxy-enable %lu, guard %lu, done marker %s, proxy-restore %lu\n",
                enable.exitCode, guardExit, ending.doneMarkerWritten ? "written" : "missing", restore.exitCode);
    const bool clean = ending.doneMarkerWritten && !ending.failed && enable.exitCode == 0 && restore.exitCode == 0 &&
                       guardExit == 0;
    return clean ? 0 : 1;
}

}  // namespace

int ResetProxy(const ClientSettings& settings) {
    std::printf("[client] putting back every proxy that a connection left switched\n");
    return static_cast<int>(
        RunHelperAndShow(HelperOf(settings), {L"--proxy-restore", L"--snapshot-id", L"all"}).exitCode);
}

int RunConnection(const ClientSettings& settings) {
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    Connection connection;
    if (!PlanConnection(settings, connection)) return 1;
    const Paths& paths = connection.paths;
    const UniqueHandleNull claim = ClaimProxyStatePath(paths.proxyState);
    if (!claim) return 1;
    if (!ClearLeftovers(paths)) return 1;
    if (!WriteCoreConfig(paths.config, settings.coreConfigSource, connection.apiPort)) return 1;
    if (!Launch(settings, connection)) return 1;
    if (!WaitUntilReady(paths)) return 1;
    const HelperRun enable = SwitchProxyOn(connection);
    const UniqueHandleNull guard = StartGuard(connection);
    if (Hold(paths.done, settings.holdSeconds)) Disconnect(paths.stop);
    const HostEnding ending = WaitForTheHostToEnd(paths);
    const HelperRun restore = PutProxyBack(paths);
    const DWORD guardExit = WaitForExitCode(guard.Get(), kGuardEndsWithinMilliseconds);
    return Summarise(enable, guardExit, ending, restore);
}
