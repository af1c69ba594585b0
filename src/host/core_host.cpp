#include "host/core_host.h"

#include "base/client_path_access.h"
#include "base/executable_path.h"
#include "base/exit_codes.h"
#include "base/filetime.h"
#include "base/number_conversion.h"
#include "host/core_launch_plan.h"
#include "host/core_supervision.h"
#include "host/host_session.h"
#include "host/in_job_start.h"
#include "host/readiness_probes.h"
#include "host/user_rights.h"

namespace {

constexpr uint32_t kFailedBeforeCore = 1;
constexpr uint32_t kHostEnded = 0;
constexpr DWORD kClientAccess = SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION;
constexpr DWORD kCoreCreationFlags = CREATE_NO_WINDOW | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT;
constexpr DWORD kResumeFailed = static_cast<DWORD>(-1);
constexpr UINT kKilledBeforeRunning = 1;

// A process id that now names another process counts as a client that is gone.
bool OpenSameClient(HostSession& session) {
    const DWORD clientId = ParseUnsigned32(session.options.Get(L"--parent"));
    HANDLE client = OpenProcess(kClientAccess, FALSE, clientId);
    if (client == nullptr) {
        const DWORD error = GetLastError();
        session.ReportFailure("parent-check", "PARENT_GONE", error);
        return false;
    }
    session.client.Reset(client);
    FILETIME created{}, exited{}, kernel{}, user{};
    const bool timesRead = GetProcessTimes(client, &created, &exited, &kernel, &user);
    const DWORD timesError = GetLastError();
    const uint64_t creationTime = timesRead ? FileTimeCount(created) : 0;
    if (creationTime == ParseUnsigned64(session.options.Get(L"--created"))) return true;
    session.ReportFailure("parent-check", "PARENT_GONE", timesError);
    return false;
}

bool CreateKillOnCloseJob(HostSession& session) {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) {
        const DWORD error = GetLastError();
        session.ReportFailure("job-create", "HELPER_ERROR", error);
        return false;
    }
    session.job.Reset(job);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
        const DWORD error = GetLastError();
        session.ReportFailure("job-create", "HELPER_ERROR", error);
        return false;
    }
    return true;
}

// The write end is inheritable for the core; the read end stays the host's alone.
bool CreateOutputPipe(HostSession& session) {
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        const DWORD error = GetLastError();
        session.ReportFailure("pipe-create", "HELPER_ERROR", error);
        return false;
    }
    session.pipeRead.Reset(readEnd);
    session.pipeWrite.Reset(writeEnd);
    if (!SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0)) {
        const DWORD error = GetLastError();
        session.ReportFailure("pipe-create", "HELPER_ERROR", error);
        return false;
    }
    return true;
}

UniqueHandleFile OpenInheritableNul() {
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    return UniqueHandleFile(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                        OPEN_EXISTING, 0, nullptr));
}

// Creates the core suspended and already inside the job; false with the creation's error.
bool CreateCoreInJob(HostSession& session, const CoreLaunchPlan& plan, HANDLE input, PROCESS_INFORMATION& core,
                     DWORD& error) {
    const InJobStartAttributes inJob(session.job.Get());
    if (inJob.List() == nullptr) {
        error = GetLastError();
        return false;
    }
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input;
    startup.StartupInfo.hStdOutput = session.pipeWrite.Get();
    startup.StartupInfo.hStdError = session.pipeWrite.Get();
    startup.lpAttributeList = inJob.List();
    WideString commandLine = plan.commandLine;
    const BOOL started = CreateProcessW(plan.executable.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        kCoreCreationFlags, nullptr, plan.workingDirectory.c_str(),
                                        &startup.StartupInfo, &core);
    error = GetLastError();
    return started != FALSE;
}

bool StartCoreSuspended(HostSession& session) {
    const CoreLaunchPlan plan = PlanCoreLaunch(GetHelperDirectory(), session.options.Get(L"--config"));
    UniqueHandleFile input = OpenInheritableNul();
    PROCESS_INFORMATION core{};
    DWORD startError = 0;
    session.Report("start-core");
    const bool started = CreateCoreInJob(session, plan, input.Get(), core, startError);
    // From here on only the core and its children write into the pipe.
    session.pipeWrite.Reset();
    input.Reset();
    if (!started) {
        session.ReportFailure("start-core", CoreStartFailureCode(startError), startError);
        return false;
    }
    session.coreProcess.Reset(core.hProcess);
    session.coreThread.Reset(core.hThread);
    return true;
}

// The core runs no instruction outside the job: it was created in it, suspended. Assigning it
// again confirms that it is there.
bool LetCoreRunInJob(HostSession& session) {
    if (!AssignProcessToJobObject(session.job.Get(), session.coreProcess.Get())) {
        const DWORD error = GetLastError();
        session.ReportFailure("job-assign", "HELPER_ERROR", error);
        return false;
    }
    if (ResumeThread(session.coreThread.Get()) == kResumeFailed) {
        const DWORD error = GetLastError();
        session.ReportFailure("resume-core", "HELPER_ERROR", error);
        return false;
    }
    return true;
}

uint32_t EndCoreThatNeverRan(HostSession& session) {
    TerminateProcess(session.coreProcess.Get(), kKilledBeforeRunning);
    return session.EndCore();
}

// From here on the host touches the client's files (state file, done marker, stop marker) only
// with the user's rights; without a token for that it touches none and starts nothing. The
// thread's last error is left as it was: a client check that finds another process reports it.
bool WorkOnClientPathsAsUser() {
    const DWORD lastError = GetLastError();
    RefuseRedirectionsByNonAdministrators();
    UniqueHandleNull userRights = MakeUserRightsToken();
    if (!userRights) return false;
    UseForClientPaths(userRights.Release());
    SetLastError(lastError);
    return true;
}

}  // namespace

uint32_t RunHost(OptionMap& options) {
    if (options.Get(L"--created").empty()) return kUsageExitCode;
    if (!WorkOnClientPathsAsUser()) return kFailedBeforeCore;
    HostSession session(options);
    if (!OpenSameClient(session)) return session.Finish(kFailedBeforeCore);
    if (IsStopRequested(session.client.Get(), options.Get(L"--stop"))) return session.Finish(kHostEnded);
    if (!CreateKillOnCloseJob(session)) return session.Finish(kFailedBeforeCore);
    if (!CreateOutputPipe(session)) return session.Finish(kFailedBeforeCore);
    if (!StartCoreSuspended(session)) return session.Finish(kFailedBeforeCore);
    if (!LetCoreRunInJob(session)) return EndCoreThatNeverRan(session);
    return SuperviseCore(session);
}
