#include "host/host_session.h"

#include "status/status_records.h"

namespace {

constexpr DWORD kCoreEndWaitMilliseconds = 5000;

}  // namespace

void HostSession::Report(std::string_view stage) { ReportStatus(options.Get(L"--state"), stage); }

void HostSession::ReportFailure(std::string_view stage, std::string_view code, uint32_t win32, uint32_t exitCode) {
    ReportStatus(options.Get(L"--state"), stage, StatusFailure{code, win32, exitCode});
}

uint32_t HostSession::EndCore() {
    TerminateJobObject(job.Get(), 0);
    WaitForSingleObject(coreProcess.Get(), kCoreEndWaitMilliseconds);
    return Finish(0);
}

uint32_t HostSession::Finish(uint32_t exitCode) {
    coreThread.Reset();
    coreProcess.Reset();
    pipeRead.Reset();
    pipeWrite.Reset();
    job.Reset();
    client.Reset();
    WriteDoneMarker(options.Get(L"--done"));
    return exitCode;
}
