#pragma once

#include <string>
#include <vector>

#include "base/unique_resource.h"
#include "base/win32.h"

// One finished run of the helper: its exit code and what it printed.
struct HelperRun {
    DWORD exitCode = 0;
    std::string output;
    DWORD processId = 0;
};

// Runs the helper with these arguments, each quoted so that the helper reads it back
// unchanged, and waits for it to end. Prints the command line, the output and the exit code
// as "[client]" lines.
HelperRun RunHelperAndShow(const std::wstring& helperPath, const std::vector<std::wstring>& arguments);

// Prints the command line and starts the helper without waiting; null when it cannot start.
UniqueHandleNull StartHelperAndShow(const std::wstring& helperPath, const std::vector<std::wstring>& arguments);

// Waits up to `timeoutMilliseconds` for the process to end and gives its exit code:
// STILL_ACTIVE while it runs, and for no process at all.
DWORD WaitForExitCode(HANDLE process, DWORD timeoutMilliseconds);
