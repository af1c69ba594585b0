#pragma once

#include <string>
#include <vector>

// clang-format off
#include "base/win32.h"
#include <tlhelp32.h>
// clang-format on

namespace testing_support {

// Every running process, as one snapshot of the system's process list.
std::vector<PROCESSENTRY32W> RunningProcesses();

// The command line a running process was given, read from its process parameters.
// Empty when it cannot be read.
std::wstring ProcessCommandLine(DWORD processId);

// The value that follows `name` on the command line of a running helper started with `verb`
// whose command line holds `marker` (a path of the test's own, say); empty when none runs.
std::wstring RunningHelperOption(const std::wstring& verb, const std::wstring& marker, const std::wstring& name);

// The id of the process that started this one (it may have ended since); 0 when unknown.
DWORD ParentProcessId(DWORD processId);

// Ids of the running processes whose image file name (without folder) is `imageName`.
std::vector<DWORD> ProcessIdsByImageName(const std::wstring& imageName);

// Ends a running process (exit code 1) and waits up to 5 s for it to be gone; nothing when it
// cannot be opened.
void EndProcess(DWORD processId);

// The arguments of a command line as CommandLineToArgvW splits them, program name first.
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);

// The arguments after a program name, as the program would see `argumentTail`.
std::vector<std::wstring> SplitArgumentTail(const std::wstring& argumentTail);

}  // namespace testing_support
