#pragma once

#include <cstdint>
#include <string_view>

#include "base/command_line.h"
#include "base/unique_resource.h"
#include "status/status_records.h"

// What the host holds from its first check to its end: the options, the client's state file and
// done marker, and its own handles, none of them inheritable except the pipe's write end, which
// only the core gets.
struct HostSession {
    explicit HostSession(const OptionMap& hostOptions)
        : options(hostOptions), files(hostOptions.Get(L"--state"), hostOptions.Get(L"--done")) {}

    const OptionMap& options;
    StatusFiles files;
    UniqueHandleNull client;
    UniqueHandleNull job;
    UniqueHandleNull pipeRead;
    UniqueHandleNull pipeWrite;
    UniqueHandleNull coreProcess;
    UniqueHandleNull coreThread;

    void Report(std::string_view stage);
    void ReportFailure(std::string_view stage, std::string_view code, uint32_t win32, uint32_t exitCode = 0);
};
