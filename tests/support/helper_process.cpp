#include "support/helper_process.h"

#include "base/command_line.h"
#include "base/process.h"
#include "base/unique_resource.h"
#include "support/running_processes.h"

#include <sddl.h>  // after <windows.h>

namespace testing_support {

std::wstring TestProgramDirectory() { return DirectoryOf(GetExecutablePath()); }

std::wstring BuildDirectory() { return DirectoryOf(TestProgramDirectory()); }

std::wstring InstallationPath(const std::wstring& name) { return BuildDirectory() + L"\\installations\\" + name; }

std::wstring HelperPath() { return InstallationPath(L"installed") + L"\\KELDRIX-Network.exe"; }

std::wstring StandInCorePath() { return BuildDirectory() + L"\\router\\sing-box.exe"; }

STARTUPINFOW StartupWritingTo(HANDLE output) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = INVALID_HANDLE_VALUE;
    startup.hStdOutput = output;
    startup.hStdError = output;
    return startup;
}

std::wstring JoinArguments(const std::vector<std::wstring>& arguments) {
    std::wstring joined;
    for (const std::wstring& argument : arguments) {
        if (!joined.empty()) joined += L' ';
        joined += QuoteArgument(argument);
    }
    return joined;
}

namespace {

void DrainAvailable(HANDLE pipe, std::string& output) {
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
        std::string chunk(available, '\0');
        DWORD read = 0;
        if (!ReadFile(pipe, chunk.data(), available, &read, nullptr) || read == 0) return;
        output.append(chunk.data(), read);
    }
}

}  // namespace

bool CreateTestProcess(const std::wstring& program, std::wstring commandLine, STARTUPINFOW& startup,
                       PROCESS_INFORMATION& info, const ProcessCreation& creation) {
    UniqueLocalMemory descriptor;
    if (creation.accessList != nullptr &&
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(creation.accessList, SDDL_REVISION_1, descriptor.Put(),
                                                              nullptr)) {
        return false;
    }
    SECURITY_ATTRIBUTES processAttributes{sizeof(processAttributes), descriptor.Get(), FALSE};
    constexpr int kAttempts = 3;
    for (int attempt = 1;; ++attempt) {
        const BOOL created =
            creation.token != nullptr
                ? CreateProcessAsUserW(creation.token, program.c_str(), commandLine.data(), &processAttributes,
                                       nullptr, creation.inheritHandles, creation.flags, nullptr,
                                       creation.currentDirectory, &startup, &info)
                : CreateProcessW(program.c_str(), commandLine.data(), &processAttributes, nullptr,
                                 creation.inheritHandles, creation.flags, nullptr, creation.currentDirectory,
                                 &startup, &info);
        if (created) return true;
        const DWORD error = GetLastError();
        if (error != ERROR_INTERNAL_ERROR || attempt == kAttempts) {
            SetLastError(error);
            return false;
        }
    }
}

ProcessResult RunProgramRaw(const std::wstring& program, const std::wstring& argumentTail, DWORD timeoutMilliseconds) {
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    ProcessResult result;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 1 << 16)) {
        result.exitCode = GetLastError();
        result.timedOut = true;
        return result;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup = StartupWritingTo(writeEnd);
    std::wstring commandLine = QuoteArgument(program);
    if (!argumentTail.empty()) commandLine += L" " + argumentTail;
    PROCESS_INFORMATION info{};
    const bool started = CreateTestProcess(program, commandLine, startup, info, {.inheritHandles = true});
    const DWORD startError = GetLastError();
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        result.exitCode = startError;
        result.timedOut = true;
        return result;
    }
    CloseHandle(info.hThread);

    const ULONGLONG deadline = GetTickCount64() + timeoutMilliseconds;
    while (WaitForSingleObject(info.hProcess, 10) == WAIT_TIMEOUT) {
        DrainAvailable(readEnd, result.output);
        if (GetTickCount64() > deadline) {
            TerminateProcess(info.hProcess, 1);
            WaitForSingleObject(info.hProcess, 5000);
            result.timedOut = true;
            break;
        }
    }
    DrainAvailable(readEnd, result.output);
    GetExitCodeProcess(info.hProcess, &result.exitCode);
    CloseHandle(info.hProcess);
    CloseHandle(readEnd);
    return result;
}

ProcessResult RunProgram(const std::wstring& program, const std::vector<std::wstring>& arguments,
                         DWORD timeoutMilliseconds) {
    return RunProgramRaw(program, JoinArguments(arguments), timeoutMilliseconds);
}

ProcessResult RunHelper(const std::vector<std::wstring>& arguments, DWORD timeoutMilliseconds) {
    return RunProgram(HelperPath(), arguments, timeoutMilliseconds);
}

uint64_t ProcessCreationTime(HANDLE process) {
    uint64_t creationTime = 0;
    return ReadCreationTime(process, creationTime) ? creationTime : 0;
}

bool ProcessHasEnded(DWORD processId) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (process == nullptr) return true;
    const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

std::vector<DWORD> ChildProcessIds(DWORD parentId) {
    std::vector<DWORD> children;
    for (const PROCESSENTRY32W& entry : RunningProcesses()) {
        if (entry.th32ParentProcessID == parentId && !ProcessHasEnded(entry.th32ProcessID)) {
            children.push_back(entry.th32ProcessID);
        }
    }
    return children;
}

ChildProcess::ChildProcess(const std::wstring& program, const std::vector<std::wstring>& arguments,
                           const ProcessCreation& creation) {
    std::wstring commandLine = QuoteArgument(program);
    if (!arguments.empty()) commandLine += L" " + JoinArguments(arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (CreateTestProcess(program, commandLine, startup, info, creation)) {
        CloseHandle(info.hThread);
        process_ = info.hProcess;
        id_ = info.dwProcessId;
    }
}

ChildProcess::~ChildProcess() {
    if (process_ == nullptr) return;
    if (IsRunning()) Terminate();
    CloseHandle(process_);
}

uint64_t ChildProcess::CreationTime() const { return ProcessCreationTime(process_); }

bool ChildProcess::IsRunning() const {
    return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

DWORD ChildProcess::Wait(DWORD timeoutMilliseconds) {
    if (WaitForSingleObject(process_, timeoutMilliseconds) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD exitCode = 0;
    GetExitCodeProcess(process_, &exitCode);
    return exitCode;
}

void ChildProcess::Terminate(DWORD exitCode) {
    TerminateProcess(process_, exitCode);
    WaitForSingleObject(process_, 5000);
}

}  // namespace testing_support
