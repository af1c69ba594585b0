// What a benchmark reads about another program under Wine from the Linux process behind it: Wine's
// GetProcessTimes does not report another process's CPU time, and its memory figures are not the
// Linux ones. The process is found in /proc (seen through Wine's Z: drive) by texts that only its
// command line holds.
#pragma once

#include <string>
#include <vector>

struct LinuxProcessFigures {
    long long cpuTicks = -1;     // utime + stime, 100 a second
    long long residentKiB = -1;  // VmRSS
};

// The figures of the first process whose command line holds every one of `commandLineParts`;
// -1 where none was found or a figure could not be read.
LinuxProcessFigures ReadLinuxProcessFigures(const std::vector<std::string>& commandLineParts);
