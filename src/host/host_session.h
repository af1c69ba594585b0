#pragma once

#include <cstdint>
#include <string_view>

#include "base/command_line.h"
#include "base/unique_resource.h"

// What the host holds from its first check to its end: the options and its own handles,
// none of them inheritable except the pipe's write end, which only the core gets.
struct HostSession {
    explicit HostSession(const OptionMap& hostOptions) : options(hostOptions) {}

    const OptionMap& options;
    UniqueHandleNull client;
    UniqueHandleNull job;
    UniqueHandleNull pipeRead;
    UniqueHandleNull pipeWrite;
    UniqueHandleNull coreProcess;
    UniqueHandleNull coreThread;

    void Report(std::string_view stage);
    void ReportFailure(std::string_view stage, std::string_view code, uint32_t win32, uint32_t exitCode = 0);

    // Ends the job and with it the core and everything it started, waits for the core,
    // then finishes with exit code 0.
    uint32_t EndCore();

    // Closes every handle (core thread, core process, pipe, job, client), then writes
    // the done marker; returns `exitCode`.
    uint32_t Finish(uint32_t exitCode);
};
