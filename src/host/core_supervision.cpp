#include "host/core_supervision.h"

#include "host/core_output.h"
#include "host/readiness_probes.h"

namespace {

constexpr ULONGLONG kReadinessLimitMilliseconds = 30000;
constexpr DWORD kPollIntervalMilliseconds = 100;

void ReportCoreExit(HostSession& session, CoreOutputReader& output, bool ready) {
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(session.coreProcess.Get(), &exitCode)) exitCode = 0;
    const CoreOutputTail& tail = output.Finish();
    const uint32_t win32 = FindWin32ErrorInOutput(tail.Bytes());
    const std::string_view code = ClassifyCoreOutput(tail.Bytes());
    session.ReportFailure(ready ? "core-exit" : "start-core", code, win32, exitCode);
}

bool IsCoreReady(HostSession& session) {
    return IsApiPortOpen(session.options.Get(L"--api")) && IsInterfaceUp(session.options.Get(L"--interface"));
}

// Returns when the host is to end; every record on the way has been written. The output's reader
// ends with it, whichever way it is left, while the pipe is still open.
void PollUntilEnd(HostSession& session) {
    CoreOutputReader output(session.pipeRead.Get());
    bool ready = false;
    const ULONGLONG deadline = GetTickCount64() + kReadinessLimitMilliseconds;
    for (bool firstCycle = true;; firstCycle = false) {
        if (!firstCycle) Sleep(kPollIntervalMilliseconds);
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

}  // namespace

uint32_t SuperviseCore(HostSession& session) {
    session.Report("wait-interface");
    WSADATA winsock{};
    WSAStartup(MAKEWORD(2, 2), &winsock);
    PollUntilEnd(session);
    WSACleanup();
    return session.EndCore();
}
