#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/win32.h"

namespace testing_support {

// What a finished child run left: its exit code and the exact bytes of its standard output.
struct ProcessResult {
    DWORD exitCode = 0;
    std::string output;
    bool timedOut = false;
};

// The directory of the running test program, and the build tree (one level above it).
std::wstring TestProgramDirectory();
std::wstring BuildDirectory();
// One of the installations that tests/support/lay-out-installations.sh lays out.
std::wstring InstallationPath(const std::wstring& name);
// The helper in the installation that administrators alone may change, where its host runs the
// core, the stand-in core at router\sing-box.exe beside it.
std::wstring HelperPath();
// The stand-in core as built; with an empty script it is also an idle process that runs until it
// is ended.
std::wstring StandInCorePath();

// Startup information for a child whose standard output and error go to `output`
// (inheritable) and whose standard input is none.
STARTUPINFOW StartupWritingTo(HANDLE output);

// Quotes each argument so that the child's CommandLineToArgvW reads it back unchanged.
std::wstring JoinArguments(const std::vector<std::wstring>& arguments);

// How a test's child is created, beyond its command line.
struct ProcessCreation {
    bool inheritHandles = false;
    DWORD flags = 0;
    // A primary token for the child (CreateProcessAsUserW) instead of this process's own.
    HANDLE token = nullptr;
    // The child process's access list, as SDDL, instead of the default one.
    const wchar_t* accessList = nullptr;
    // The child's current folder instead of this process's.
    const wchar_t* currentDirectory = nullptr;
};

// CreateProcessW, tried again while it fails with ERROR_INTERNAL_ERROR: now and then Wine
// loses a child while setting it up, before any code of the program runs, and reports that.
bool CreateTestProcess(const std::wstring& program, std::wstring commandLine, STARTUPINFOW& startup,
                       PROCESS_INFORMATION& info, const ProcessCreation& creation = {});

// Starts `program` with the raw command-line tail (after the quoted program path),
// collects its standard output and waits for it to end. A run that outlives the
// time-out is terminated and flagged.
ProcessResult RunProgramRaw(const std::wstring& program, const std::wstring& argumentTail,
                            DWORD timeoutMilliseconds = 60000);
ProcessResult RunProgram(const std::wstring& program, const std::vector<std::wstring>& arguments,
                         DWORD timeoutMilliseconds = 60000);

// The built helper with these arguments.
ProcessResult RunHelper(const std::vector<std::wstring>& arguments, DWORD timeoutMilliseconds = 60000);

// A child process started without waiting, ended by the owner (or on destruction).
class ChildProcess {
public:
    ChildProcess(const std::wstring& program, const std::vector<std::wstring>& arguments,
                 const ProcessCreation& creation = {});
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    DWORD Id() const { return id_; }
    HANDLE Handle() const { return process_; }
    uint64_t CreationTime() const;
    bool IsRunning() const;
    // Waits for the end; returns the exit code, or STILL_ACTIVE when the time ran out.
    DWORD Wait(DWORD timeoutMilliseconds);
    void Terminate(DWORD exitCode = 1);

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

// The creation time of a process as GetProcessTimes gives it, as one 64-bit count.
uint64_t ProcessCreationTime(HANDLE process);

// True when a process with this id can no longer be opened, or has ended.
bool ProcessHasEnded(DWORD processId);

// The ids of the running processes whose parent is `parentId`.
std::vector<DWORD> ChildProcessIds(DWORD parentId);

}  // namespace testing_support
