#include "support/running_processes.h"

#include <winternl.h>

namespace testing_support {

std::wstring ProcessCommandLine(DWORD processId) {
    const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process == nullptr) return {};
    std::wstring commandLine;
    PROCESS_BASIC_INFORMATION basic{};
    PEB peb{};
    RTL_USER_PROCESS_PARAMETERS parameters{};
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof(basic), nullptr) == 0 &&
        ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof(peb), nullptr) &&
        ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof(parameters), nullptr)) {
        commandLine.resize(parameters.CommandLine.Length / sizeof(wchar_t));
        if (!ReadProcessMemory(process, parameters.CommandLine.Buffer, commandLine.data(),
                               parameters.CommandLine.Length, nullptr)) {
            commandLine.clear();
        }
    }
    CloseHandle(process);
    return commandLine;
}

std::vector<PROCESSENTRY32W> RunningProcesses() {
    std::vector<PROCESSENTRY32W> processes;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return processes;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        processes.push_back(entry);
    }
    CloseHandle(snapshot);
    return processes;
}

DWORD ParentProcessId(DWORD processId) {
    for (const PROCESSENTRY32W& entry : RunningProcesses()) {
        if (entry.th32ProcessID == processId) return entry.th32ParentProcessID;
    }
    return 0;
}

std::vector<DWORD> ProcessIdsByImageName(const std::wstring& imageName) {
    std::vector<DWORD> ids;
    for (const PROCESSENTRY32W& entry : RunningProcesses()) {
        if (lstrcmpiW(entry.szExeFile, imageName.c_str()) == 0) ids.push_back(entry.th32ProcessID);
    }
    return ids;
}

std::wstring RunningHelperOption(const std::wstring& verb, const std::wstring& marker, const std::wstring& name) {
    for (DWORD id : ProcessIdsByImageName(L"KELDRIX-Network.exe")) {
        const std::wstring commandLine = ProcessCommandLine(id);
        const std::vector<std::wstring> arguments = SplitCommandLine(commandLine);
        if (arguments.size() < 2 || arguments[1] != verb || commandLine.find(marker) == std::wstring::npos) continue;
        for (size_t i = 2; i + 1 < arguments.size(); i += 2) {
            if (arguments[i] == name) return arguments[i + 1];
        }
    }
    return {};
}

void EndProcess(DWORD processId) {
    const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId);
    if (process == nullptr) return;
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
}

std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine) {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(commandLine.c_str(), &count);
    std::vector<std::wstring> split;
    if (arguments == nullptr) return split;
    for (int i = 0; i < count; ++i) split.emplace_back(arguments[i]);
    LocalFree(arguments);
    return split;
}

std::vector<std::wstring> SplitArgumentTail(const std::wstring& argumentTail) {
    std::vector<std::wstring> split = SplitCommandLine(L"\"C:\\program.exe\" " + argumentTail);
    if (!split.empty()) split.erase(split.begin());
    return split;
}

}  // namespace testing_support
