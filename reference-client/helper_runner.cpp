#include "helper_runner.h"

#include <cstdio>

#include "base/command_line.h"
#include "base/text.h"

namespace {

std::wstring CommandLine(const std::wstring& helperPath, const std::vector<std::wstring>& arguments) {
    std::wstring commandLine = QuoteArgument(helperPath);
    for (const std::wstring& argument : arguments) commandLine += L" " + QuoteArgument(argument);
    return commandLine;
}

// The arguments as one command line for people to read: quoted only where they need it.
std::string Describe(const std::vector<std::wstring>& arguments) {
    std::string text;
    for (const std::wstring& argument : arguments) {
        if (!text.empty()) text += ' ';
        text += ToUtf8(ReadsBackUnquoted(argument) ? argument : QuoteArgument(argument));
    }
    return text;
}

void ShowCommand(const std::vector<std::wstring>& arguments) {
    std::printf("[client] $ KELDRIX-Network.exe %s\n", Describe(arguments).c_str());
}

// Starts the helper, writing to `output` when it is not null. Null when it cannot start, with
// GetLastError saying why.
UniqueHandleNull Start(const std::wstring& helperPath, const std::vector<std::wstring>& arguments, HANDLE output) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (output != nullptr) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = INVALID_HANDLE_VALUE;
        startup.hStdOutput = output;
        startup.hStdError = output;
    }
    std::wstring commandLine = CommandLine(helperPath, arguments);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(helperPath.c_str(), commandLine.data(), nullptr, nullptr, output != nullptr, 0, nullptr,
                        nullptr, &startup, &started)) {
        return {};
    }
    const UniqueHandleNull thread(started.hThread);
    return UniqueHandleNull(started.hProcess);
}

std::string ReadToEnd(HANDLE readEnd) {
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(readEnd, buffer, sizeof(buffer), &read, nullptr) && read > 0) text.append(buffer, read);
    return text;
}

// A run that never started: the Windows error stands in for the exit code.
HelperRun NotStarted(DWORD error) {
    HelperRun run;
    run.exitCode = error;
    return run;
}

HelperRun RunHelperAndWait(const std::wstring& helperPath, const std::vector<std::wstring>& arguments) {
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    UniqueHandleNull readEnd;
    UniqueHandleNull writeEnd;
    if (!CreatePipe(readEnd.Put(), writeEnd.Put(), &inheritable, 0)) return NotStarted(GetLastError());
    SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    const UniqueHandleNull process = Start(helperPath, arguments, writeEnd.Get());
    const DWORD startError = GetLastError();
    // Our copy of the write end must go, or the read below would never see the end.
    writeEnd.Reset();
    if (!process) return NotStarted(startError);
    HelperRun run;
    run.processId = GetProcessId(process.Get());
    run.output = ReadToEnd(readEnd.Get());
    run.exitCode = WaitForExitCode(process.Get(), INFINITE);
    return run;
}

}  // namespace

HelperRun RunHelperAndShow(const std::wstring& helperPath, const std::vector<std::wstring>& arguments) {
    ShowCommand(arguments);
    const HelperRun run = RunHelperAndWait(helperPath, arguments);
    if (!run.output.empty()) std::printf("[client]   output: %s\n", run.output.c_str());
    std::printf("[client]   exit code: %lu\n", run.exitCode);
    return run;
}

UniqueHandleNull StartHelperAndShow(const std::wstring& helperPath, const std::vector<std::wstring>& arguments) {
    ShowCommand(arguments);
    return Start(helperPath, arguments, nullptr);
}

DWORD WaitForExitCode(HANDLE process, DWORD timeoutMilliseconds) {
    DWORD exitCode = STILL_ACTIVE;
    if (process == nullptr) return exitCode;
    WaitForSingleObject(process, timeoutMilliseconds);
    GetExitCodeProcess(process, &exitCode);
    return exitCode;
}
