#pragma once

#include <cstdint>

#include "base/command_line.h"
#include "base/text.h"

// The "--launch" verb: completes the client's paths, measures the client's creation time, adds
// it as "--created" and starts this executable again elevated ("runas") as the host. Returns at
// once with 0, 161 (ERROR_BAD_PATHNAME) before any consent prompt when a path option is not a
// local file, 1 when the creation time cannot be read or is zero, or the raw Windows error of the
// failed open or start.
uint32_t RunLauncher(OptionMap& options);

// Completes each path option against the launcher's current folder, the client's, so that the
// host (which has a folder of its own) gets full paths. False, with the options partly
// completed, when one of them is not a path on a local drive once completed.
bool MakeClientPathsAbsolute(OptionMap& options);

// The creation time as the host compares it: unsigned decimal, no leading zeros.
WideString FormatCreationTime(uint64_t creationTime);

// The elevated run's parameters: "--host", then each option in the map's order as a blank,
// the name, a blank and the quoted value. Names stay bare unless a bare name would not come
// back as one argument (empty, or holding a blank, a tab or a quote).
WideString BuildHostParameters(const OptionMap& options);
