#include "host/core_supervision.h"

#include <algorithm>
#include <optional>

#include "base/clock.h"
#include "host/core_output.h"
#include "host/host_ending.h"
#include "host/readiness_watch.h"

namespace {

constexpr ULONGLONG kReadinessLimitMilliseconds = 30000;
constexpr ULONGLONG kReadinessLookMilliseconds = 8;

void ReportCoreExit(HostSession& session, CoreOutputReader& output, bool ready) {
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(session.coreProcess.Get(), &exitCode)) exitCode = 0;
    const CoreOutputTail& tail = output.StopAndTakeRest();
    const uint32_t win32 = FindWin32ErrorInOutput(tail.Bytes());
    const std::string_view code = ClassifyCoreOutput(tail.Bytes());
    session.ReportFailure(ready ? "core-exit" : "start-core", code, win32, exitCode);
}

// Waits until `until` for the client or the core to end: true as soon as one has. A wait that
// fails is slept through; the cycle's own checks still look at both.
bool WaitForClientOrCoreEnd(HostSession& session, ULONGLONG until) {
    const ULONGLONG now = MonotonicMilliseconds();
    const DWORD wait = now < until ? static_cast<DWORD>(until - now) : 0;
    const HANDLE ends[] = {session.client.Get(), session.coreProcess.Get()};
    const DWORD result = WaitForMultipleObjects(2, ends, FALSE, wait);
    if (result == WAIT_OBJECT_0 || result == WAIT_OBJECT_0 + 1) return true;
    if (result == WAIT_FAILED) Sleep(wait);
    return false;
}

// Looks keep their pace whatever each costs; one that ran late is followed by a whole interval.
ULONGLONG NextLookAfter(ULONGLONG look) {
    const ULONGLONG now = MonotonicMilliseconds();
    return look + kReadinessLookMilliseconds > now ? look + kReadinessLookMilliseconds
                                                   : now + kReadinessLookMilliseconds;
}

// The pause between two cycles: a record that a reader holds up is tried again (the cycle itself
// never waits for one), the client and the core are waited on, and, until the core is ready, its
// readiness is looked at every few milliseconds. Ends early for the cycle when the client or the
// core has ended or the core has become ready.
void WaitForNextCycle(HostSession& session, ReadinessWatch* readiness) {
    const ULONGLONG cycleEnd = MonotonicMilliseconds() + kSupervisionCycleMilliseconds;
    for (ULONGLONG nextLook = MonotonicMilliseconds() + kReadinessLookMilliseconds;;) {
        const ULONGLONG until = readiness == nullptr ? cycleEnd : std::min(cycleEnd, nextLook);
        session.files.RetryWaitingRecord(until);
        if (WaitForClientOrCoreEnd(session, until)) return;
        if (MonotonicMilliseconds() >= cycleEnd) return;
        if (readiness != nullptr && readiness->Look()) return;
        nextLook = NextLookAfter(nextLook);
    }
}

// Returns when the host is to end; every record on the way has been reported.
void WatchUntilEnd(HostSession& session, CoreOutputReader& output) {
    bool ready = false;
    // Gone once the core is ready: nothing about readiness is asked after "ready".
    std::optional<ReadinessWatch> readiness(std::in_place, session.options, session.job.Get());
    const ULONGLONG deadline = MonotonicMilliseconds() + kReadinessLimitMilliseconds;
    for (bool firstCycle = true;; firstCycle = false) {
        if (!firstCycle) WaitForNextCycle(session, ready ? nullptr : &*readiness);
        if (IsStopRequested(session.client.Get(), session.options.Get(L"--stop"))) return;
        output.Drain();
        if (WaitForSingleObject(session.coreProcess.Get(), 0) != WAIT_TIMEOUT) {
            ReportCoreExit(session, output, ready);
            return;
        }
        if (ready) continue;
        if (readiness->Look()) {
            session.Report("ready");
            ready = true;
            readiness.reset();
            continue;
        }
        if (MonotonicMilliseconds() > deadline) {
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
    return CloseAndDeliverLastWord(session, kHostEnded);
}
