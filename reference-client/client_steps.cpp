#include "client_steps.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/process.h"
#include "base/system_info.h"
#include "base/text.h"
#include "base/win32.h"
#include "core_config.h"
#include "core_finder.h"
#include "helper_runner.h"
#include "leftovers.h"
#include "loopback_port.h"
#include "state_watch.h"
#include "status_record.h"

namespace {

std::atomic<bool> disconnectRequested{false};

BOOL WINAPI OnConsoleControl(DWORD) {
    disconnectRequested = true;
    return TRUE;
}

struct Paths {
    std::wstring helper, core, work, config, state, stop, done, proxyState;
};

Paths MakePaths(const ClientSettings& settings) {
    Paths paths;
    paths.helper = settings.helperPath.empty() ? DirectoryOf(GetExecutablePath()) + L"\\KELDRIX-Network.exe"
                                               : settings.helperPath;
    paths.core = DirectoryOf(paths.helper) + L"\\router\\sing-box.exe";
    paths.work = settings.workDirectory;
    if (paths.work.empty()) {
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, temp);
        paths.work = std::wstring(temp) + L"keldrix-client-" + FormatUnsigned(GetCurrentProcessId());
    }
    CreateDirectoryW(paths.work.c_str(), nullptr);
    paths.config = paths.work + L"\\core-config.txt";
    paths.state = paths.work + L"\\state.json";
    paths.stop = paths.work + L"\\stop";
    paths.done = paths.work + L"\\done";
    paths.proxyState = settings.proxyStatePath.empty() ? DefaultProxyStatePath() : settings.proxyStatePath;
    return paths;
}

std::string SystemMessage(DWORD code) {
    const std::string message = SystemMessageLine(code);
    return message.empty() ? "no system text" : message;
}

bool WriteCoreConfig(const ClientSettings& settings, const Paths& paths, unsigned apiPort) {
    std::string configTemplate = DefaultCoreConfig();
    if (!settings.coreConfigSource.empty()) {
        std::ifstream source(std::filesystem::path(settings.coreConfigSource), std::ios::binary);
        if (!source) return false;
        std::stringstream content;
        content << source.rdbuf();
        configTemplate = content.str();
    }
    std::ofstream config(std::filesystem::path(paths.config), std::ios::binary | std::ios::trunc);
    config << FillCoreConfig(configTemplate, apiPort);
    return static_cast<bool>(config);
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

HelperRun RunAndShow(const Paths& paths, const std::vector<std::wstring>& arguments) {
    return RunHelperAndShow(paths.helper, arguments);
}

// What the last connection may have left: the user's proxy still switched (the whole session
// ended at once), and its record and markers in the working folder.
bool ClearLeftovers(const Paths& paths) {
    return RestoreLeftOverProxy(paths.helper, paths.proxyState) &&
           RemoveStaleConnectionFiles({{"state file", paths.state}, {"stop marker", paths.stop},
                                       {"done marker", paths.done}});
}

// Launches the host and waits for "ready" or a failure record; gives the launcher's process id.
bool Connect(const Paths& paths, const ClientSettings& settings, unsigned apiPort, StatusRecord& last,
             DWORD& launcherId) {
    const HelperRun launch =
        RunAndShow(paths, {L"--launch", L"--config", paths.config, L"--parent", FormatUnsigned(GetCurrentProcessId()),
                           L"--api", FormatUnsigned(apiPort), L"--interface", settings.interfaceName, L"--state",
                           paths.state, L"--stop", paths.stop, L"--done", paths.done});
    launcherId = launch.processId;
    if (launch.exitCode != 0) {
        std::printf("[client] the launch failed: Windows error %lu: %s\n", launch.exitCode,
                    SystemMessage(launch.exitCode).c_str());
        return false;
    }
    const Outcome outcome = WaitForOutcome(paths.state, paths.done, 45000,
                                           [](const std::string& json, const StatusRecord&) {
                                               std::printf("[client] state file: %s\n", json.c_str());
                                               std::fflush(stdout);
                                           },
                                           last);
    switch (outcome) {
        case Outcome::Ready: return true;
        case Outcome::Failed: PrintFailure(last); break;
        case Outcome::EndedWithoutRecord: std::printf("[client] the host ended without a record (stopped early)\n"); break;
        case Outcome::TimedOut: std::printf("[client] no outcome from the host within 45 seconds\n"); break;
    }
    if (WaitForDoneMarker(paths.done, 10000)) std::printf("[client] done marker: done\n");
    return false;
}

// Holds the connection; returns false when the host ended on its own (the core stopped).
bool Hold(const Paths& paths, int seconds) {
    if (seconds > 0) std::printf("[client] connected; holding the connection for %d s\n", seconds);
    else std::printf("[client] connected; press Ctrl+C to disconnect\n");
    std::fflush(stdout);
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    while (!disconnectRequested && (seconds == 0 || GetTickCount64() < end)) {
        if (DoneMarkerWritten(paths.done)) return false;
        Sleep(100);
    }
    return true;
}

}  // namespace

int RunConnection(const ClientSettings& settings) {
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    const Paths paths = MakePaths(settings);
    const unsigned apiPort = FreeLoopbackPort();
    const unsigned proxyPort = FreeLoopbackPort();
    std::printf("[client] working folder: %s\n", ToUtf8(paths.work).c_str());
    std::printf("[client] proxy state file: %s\n", ToUtf8(paths.proxyState).c_str());
    if (paths.proxyState.empty()) {
        std::printf("[client] no folder for the proxy state file: %%LOCALAPPDATA%% cannot be found\n");
        return 1;
    }
    const UniqueHandleNull claim = ClaimProxyStatePath(paths.proxyState);
    if (!claim) {
        std::printf("[client] another client is connected with this proxy state file; one connection at a time\n");
        return 1;
    }
    if (!ClearLeftovers(paths)) return 1;
    if (!WriteCoreConfig(settings, paths, apiPort)) {
        std::printf("[client] cannot write the core configuration\n");
        return 1;
    }

    const uint64_t launchedAt = CurrentFileTime();
    StatusRecord last;
    DWORD launcherId = 0;
    if (!Connect(paths, settings, apiPort, last, launcherId)) return 1;

    const std::wstring localProxy = L"127.0.0.1:" + FormatUnsigned(proxyPort);
    std::printf("[client] switching the system proxy to %s\n", ToUtf8(localProxy).c_str());
    const HelperRun enable =
        RunAndShow(paths, {L"--proxy-enable", L"--port", FormatUnsigned(proxyPort), L"--state", paths.proxyState});

    const DWORD coreId = FindCoreProcessId(paths.core, launcherId, launchedAt);
    std::printf("[client] core process: %lu\n", coreId);
    const UniqueHandleNull guard =
        StartHelperAndShow(paths.helper, {L"--guard", L"--parent", FormatUnsigned(GetCurrentProcessId()), L"--core",
                                          FormatUnsigned(coreId), L"--state", paths.proxyState, L"--config",
                                          paths.config, L"--expected-proxy", localProxy});
    std::printf("[client] guard started\n");

    const bool heldToTheEnd = Hold(paths, settings.holdSeconds);
    if (heldToTheEnd) {
        std::printf("[client] disconnecting: creating the stop marker\n");
        const UniqueHandleFile stopMarker(
            CreateFileW(paths.stop.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
    const bool done = WaitForDoneMarker(paths.done, 15000);
    std::string finalRecord;
    ReadFileBriefly(paths.state, finalRecord);
    std::printf("[client] done marker: %s; last record: %s\n", done ? "done" : "missing", finalRecord.c_str());
    StatusRecord ending;
    const bool coreFailed = ParseStatusRecord(finalRecord, ending) && ending.failed;
    if (coreFailed) PrintFailure(ending);

    std::printf("[client] putting the system proxy back\n");
    const HelperRun restore = RunAndShow(paths, {L"--proxy-restore", L"--state", paths.proxyState});
    const DWORD guardExit = WaitForExitCode(guard.Get(), 15000);
    std::printf("[client] summary: launch 0, ready, proxy-enable %lu, guard %lu, done marker %s, proxy-restore %lu\n",
                enable.exitCode, guardExit, done ? "written" : "missing", restore.exitCode);
    const bool clean = done && !coreFailed && enable.exitCode == 0 && restore.exitCode == 0 && guardExit == 0;
    return clean ? 0 : 1;
}
