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

HANDLE Start(const std::wstring& helperPath, const std::vector<std::wstring>& arguments, HANDLE output) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (output != nullptr) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = INVALID_HANDLE_VALUE;
        startup.hStdOutput = output;
        startup.hStdError = output;
    }
    std::wstring commandLine = CommandLine(helperPath, arguments);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(helperPath.c_str(), commandLine.data(), nullptr, nullptr, output != nullptr, 0, nullptr,
                        nullptr, &startup, &info)) {
        return nullptr;
    }
    CloseHandle(info.hThread);
    return info.hProcess;
}

}  // namespace

HelperRun RunHelperAndWait(const std::wstring& helperPath, const std::vector<std::wstring>& arguments) {
    HelperRun run;
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        run.exitCode = GetLastError();
        return run;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    const HANDLE process = Start(helperPath, arguments, writeEnd);
    const DWORD startError = GetLastError();
    // Our copy of the write end must go, or the read below would never see the end.
    CloseHandle(writeEnd);
    if (process == nullptr) {
        CloseHandle(readEnd);
        run.exitCode = startError;
        return run;
    }
    run.processId = GetProcessId(process);
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(readEnd, buffer, sizeof(buffer), &read, nullptr) && read > 0) run.output.append(buffer, read);
    WaitForSingleObject(process, INFINITE);
    GetExitCodeProcess(process, &run.exitCode);
    CloseHandle(process);
    CloseHandle(readEnd);
    return run;
}

HelperRun RunHelperAndShow(const std::wstring& helperPath, const std::vector<std::wstring>& arguments) {
    std::printf("[client] $ KELDRIX-Network.exe %s\n", Describe(arguments).c_str());
    const HelperRun run = RunHelperAndWait(helperPath, arguments);
    if (!run.output.empty()) std::printf("[client]   output: %s\n", run.output.c_str());
    std::printf("[client]   exit code: %lu\n", run.exitCode);
    return run;
}

HANDLE StartHelper(const std::wstring& helperPath, const std::vector<std::wstring>& arguments) {
    return Start(helperPath, arguments, nullptr);
}

std::string Describe(const std::vector<std::wstring>& arguments) {
    std::string text;
    for (const std::wstring& argument : arguments) {
        if (!text.empty()) text += ' ';
        text += ToUtf8(ReadsBackUnquoted(argument) ? argument : QuoteArgument(argument));
    }
    return text;
}
