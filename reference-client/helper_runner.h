#pragma once

#include <string>
#include <vector>

#include "base/win32.h"

// One finished run of the helper: its exit code and what it printed.
struct HelperRun {
    DWORD exitCode = 0;
    std::string output;
    DWORD processId = 0;
};

// Runs the helper with these arguments, each quoted so that the helper reads it back
// unchanged, and waits for it to end.
HelperRun RunHelperAndWait(const std::wstring& helperPath, const std::vector<std::wstring>& arguments);

// The same, printing the command line, the output and the exit code as "[client]" lines.
HelperRun RunHelperAndShow(const std::wstring& helperPath, const std::vector<std::wstring>& arguments);

// Starts the helper without waiting; returns its process handle, or null.
HANDLE StartHelper(const std::wstring& helperPath, const std::vector<std::wstring>& arguments);

// The arguments as one command line, for printing.
std::string Describe(const std::vector<std::wstring>& arguments);
