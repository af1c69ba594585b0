#include "host/core_supervision.h"

#include "host/core_output.h"
#include "host/host_ending.h"
#include "host/readiness_probes.h"

namespace {

constexpr ULONGLONG kReadinessLimitMilliseconds = 30000;
constexpr DWORD kPollIntervalMilliseconds = 100;
constexpr uint32_t kHostEnded = 0;

void ReportCoreExit(HostSession& session, CoreOutputReader& output, bool ready) {
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(session.coreProcess.Get(), &exitCode)) exitCode = 0;
    const CoreOutputTail& tail = output.StopAndTakeRest();
    const uint32_t win32 = FindWin32ErrorInOutput(tail.Bytes());
    const std::string_view code = ClassifyCoreOutput(tail.Bytes());
    session.ReportFailure(ready ? "core-exit" : "start-core", code, win32, exitCode);
}

bool IsCoreReady(HostSession& session) {
    return IsApiPortOpen(session.options.Get(L"--api")) && IsInterfaceUp(session.options.Get(L"--interface"));
}

// The pause between two cycles, spent trying again a record that a reader holds up: the cycle
// itself never waits for one.
void WaitForNextCycle(HostSession& session) {
    session.files.RetryUntil(GetTickCount64() + kPollIntervalMilliseconds);
}

// Returns when the host is to end; every record on the way has been reported.
void WatchUntilEnd(HostSession& session, CoreOutputReader& output) {
    bool ready = false;
    const ULONGLONG deadline = GetTickCount64() + kReadinessLimitMilliseconds;
    for (bool firstCycle = true;; firstCycle = false) {
        if (!firstCycle) WaitForNextCycle(session);
        if (IsStopRequested(session.client.Get(), session.options.Get(L"--stop"))) return;
        output.Drain();
        if (WaitForSingleObject(session.coreProcess.Get(), 0) != WAIT_TIMEOUT) {
            ReportCoreExit(session, output, ready);
            return;
        }
        if (ready) continue;
        if (IsCoreReady(session)) {
            session.Report("ready");
            ready = true;
            continue;
        }
        if (GetTickCount64() > deadline) {
            session.ReportFailure("wait-interface", "TIMEOUT", 0);
            return;
        }
    }
}

// The output's reader is stopped here, while the pipe is still open; should the watch throw, its
// destructor stops it.
void WatchWhileReadingOutput(HostSession& session) {
    CoreOutputReader output(session.pipeRead.Get());
    WatchUntilEnd(session, output);
    output.StopReading();
}

}  // namespace

uint32_t SuperviseCore(HostSession& session) {
    session.Report("wait-interface");
    WSADATA winsock{};
    WSAStartup(MAKEWORD(2, 2), &winsock);
    WatchWhileReadingOutput(session);
    WSACleanup();
    EndCoreAndItsJob(session);
    return CloseAndMarkDone(session, kHostEnded);
}
