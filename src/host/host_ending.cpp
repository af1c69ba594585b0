#include "host/host_ending.h"

#include "base/client_path_access.h"
#include "base/local_path.h"

namespace {

constexpr DWORD kCoreEndWaitMilliseconds = 5000;

}  // namespace

bool IsStopRequested(HANDLE client, const WideString& stopPath) {
    if (WaitForSingleObject(client, 0) != WAIT_TIMEOUT) return true;
    if (!IsLocalDrivePath(stopPath)) return true;
    const ClientPathAccess access;
    return !access.Granted() || GetFileAttributesW(stopPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void EndCoreAndItsJob(HostSession& session) {
    TerminateJobObject(session.job.Get(), 0);
    WaitForSingleObject(session.coreProcess.Get(), kCoreEndWaitMilliseconds);
}

uint32_t CloseAndDeliverLastWord(HostSession& session, uint32_t exitCode) {
    session.coreThread.Reset();
    session.coreProcess.Reset();
    session.pipeRead.Reset();
    session.pipeWrite.Reset();
    session.job.Reset();
    session.client.Reset();
    session.files.DeliverLastRecordAndDoneMarker();
    return exitCode;
}
