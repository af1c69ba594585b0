#include "host/core_host.h"

#include <utility>

#include "base/client_path_access.h"
#include "base/command_line.h"
#include "base/local_path.h"
#include "base/process.h"
#include "host/core_installation.h"
#include "host/core_start.h"
#include "host/core_supervision.h"
#include "host/host_ending.h"
#include "host/host_session.h"
#include "host/user_rights.h"

namespace {

constexpr uint32_t kFailedBeforeCore = 1;
constexpr DWORD kClientAccess = SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION;
constexpr DWORD kResumeFailed = static_cast<DWORD>(-1);
constexpr UINT kKilledBeforeRunning = 1;
constexpr DWORD kOutputPipeBytes = 64 * 1024;

// Reports the failure of the Windows call just made; always false, for the caller to return.
bool ReportLastError(HostSession& session, std::string_view stage) {
    const DWORD error = GetLastError();
    session.ReportFailure(stage, "HELPER_ERROR", error);
    return false;
}

// A process id that now names another process counts as a client that is gone.
bool OpenSameClient(HostSession& session) {
    const DWORD clientId = ParseUnsigned32(session.options.Get(L"--parent"));
    session.client.Reset(OpenProcess(kClientAccess, FALSE, clientId));
    if (!session.client) {
        const DWORD error = GetLastError();
        session.ReportFailure("parent-check", "PARENT_GONE", error);
        return false;
    }
    uint64_t creationTime = 0;
    const bool timesRead = ReadCreationTime(session.client.Get(), creationTime);
    const DWORD timesError = GetLastError();
    if (!timesRead) creationTime = 0;
    if (creationTime == ParseUnsigned64(session.options.Get(L"--created"))) return true;
    session.ReportFailure("parent-check", "PARENT_GONE", timesError);
    return false;
}

bool CreateKillOnCloseJob(HostSession& session) {
    session.job.Reset(CreateJobObjectW(nullptr, nullptr));
    if (!session.job) return ReportLastError(session, "job-create");
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(session.job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
        return ReportLastError(session, "job-create");
    }
    return true;
}

// The write end is inheritable for the core; the read end stays the host's alone. The buffer
// holds what a core logs while the host's reader waits for the processor (Windows gives 4 KiB
// for 0): a burst of connections, or a whole cycle of a core writing 512 KiB a second.
bool CreateOutputPipe(HostSession& session) {
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    if (!CreatePipe(session.pipeRead.Put(), session.pipeWrite.Put(), &inheritable, kOutputPipeBytes)) {
        return ReportLastError(session, "pipe-create");
    }
    if (!SetHandleInformation(session.pipeRead.Get(), HANDLE_FLAG_INHERIT, 0)) {
        return ReportLastError(session, "pipe-create");
    }
    return true;
}

UniqueHandleFile OpenInheritableNul() {
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    return UniqueHandleFile(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                        OPEN_EXISTING, 0, nullptr));
}

void EndUnresumedCore(PROCESS_INFORMATION& core) {
    const UniqueHandleNull process(core.hProcess);
    const UniqueHandleNull thread(core.hThread);
    core = PROCESS_INFORMATION{};
    TerminateProcess(process.Get(), kKilledBeforeRunning);
}

// The installation is held from its check until the core has started, so nothing is swapped in
// between, and the core that was created is the one that was checked, or it never runs. A
// refusal reads as a start that the system refused.
DWORD CreateCoreFromUnchangeableInstallation(HostSession& session, HANDLE input, PROCESS_INFORMATION& core) {
    HeldInstallation installation;
    DWORD error = installation.Hold(GetExecutablePath());
    if (error == ERROR_SUCCESS) error = installation.RefuseUnlessAdministratorsOnly();
    if (error != ERROR_SUCCESS) return error;
    const CoreLaunchPlan plan = PlanCoreLaunch(installation.HelperDirectory(), session.options.Get(L"--config"));
    error = CreateCoreSuspendedInJob(session.job.Get(), plan, input, session.pipeWrite.Get(), core);
    if (error != ERROR_SUCCESS) return error;
    if (installation.IsCoreImageOf(core.hProcess)) return ERROR_SUCCESS;
    EndUnresumedCore(core);
    return ERROR_ACCESS_DENIED;
}

bool StartCoreSuspended(HostSession& session) {
    UniqueHandleFile input = OpenInheritableNul();
    PROCESS_INFORMATION core{};
    session.Report("start-core");
    const DWORD startError = CreateCoreFromUnchangeableInstallation(session, input.Get(), core);
    // From here on only the core and its children write into the pipe.
    session.pipeWrite.Reset();
    input.Reset();
    if (startError != ERROR_SUCCESS) {
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
        return ReportLastError(session, "job-assign");
    }
    if (ResumeThread(session.coreThread.Get()) == kResumeFailed) return ReportLastError(session, "resume-core");
    return true;
}

uint32_t EndCoreThatNeverRan(HostSession& session) {
    TerminateProcess(session.coreProcess.Get(), kKilledBeforeRunning);
    EndCoreAndItsJob(session);
    return CloseAndDeliverLastWord(session, kHostEnded);
}

// Until the client is verified, the host touches the client's files (the "parent-check" record
// and the done marker) only with the rights of an unelevated program of its own user; without a
// token for that it touches none and starts nothing. The thread's last error is left as it was:
// a client check that finds another process reports it.
bool WorkOnClientPathsAsUser() {
    const DWORD lastError = GetLastError();
    RefuseRedirectionsByNonAdministrators();
    UniqueHandleNull userRights = UnelevatedCopyOfOwnToken();
    if (!userRights) return false;
    UseForClientPaths(std::move(userRights));
    SetLastError(lastError);
    return true;
}

// Once the client is verified, everything the host does on the paths it named runs with the
// client's token cut down to an unelevated program's rights, never with the token itself: the
// client may be an elevated program of its user, and the host itself may run as an administrator
// who typed their credentials into the consent prompt for a standard user. Without that copy, or
// where it cannot be put on the thread, the host writes nothing more.
bool WorkOnClientPathsAsClient(HANDLE clientToken) {
    UniqueHandleNull clientUserRights = UnelevatedCopy(clientToken);
    if (!clientUserRights) return false;
    UseForClientPaths(std::move(clientUserRights));
    return ClientPathAccess().Granted();
}

}  // namespace

uint32_t RunHost(const OptionMap& options) {
    if (options.Get(L"--created").empty()) return kUsageExitCode;
    // The launcher refuses such paths too; this host may have been started without it.
    if (!NamesOnlyLocalFiles(options)) return kFailedBeforeCore;
    if (!WorkOnClientPathsAsUser()) return kFailedBeforeCore;
    HostSession session(options);
    if (!OpenSameClient(session)) return CloseAndDeliverLastWord(session, kFailedBeforeCore);
    const UniqueHandleNull clientToken = ClientImpersonationToken(session.client.Get());
    if (!clientToken) return kFailedBeforeCore;
    if (!IsOrdinaryInteractiveClient(clientToken.Get())) {
        session.ReportFailure("parent-check", "PARENT_GONE", ERROR_ACCESS_DENIED);
        return CloseAndDeliverLastWord(session, kFailedBeforeCore);
    }
    if (!WorkOnClientPathsAsClient(clientToken.Get())) return kFailedBeforeCore;
    if (IsStopRequested(session.client.Get(), options.Get(L"--stop"))) return CloseAndDeliverLastWord(session, kHostEnded);
    if (!CreateKillOnCloseJob(session)) return CloseAndDeliverLastWord(session, kFailedBeforeCore);
    if (!CreateOutputPipe(session)) return CloseAndDeliverLastWord(session, kFailedBeforeCore);
    if (!StartCoreSuspended(session)) return CloseAndDeliverLastWord(session, kFailedBeforeCore);
    if (!LetCoreRunInJob(session)) return EndCoreThatNeverRan(session);
    return SuperviseCore(session);
}
