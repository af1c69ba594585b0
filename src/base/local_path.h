#pragma once

#include "base/command_line.h"
#include "base/text.h"

// The elevated host opens the files its client names, and its core reads the configuration,
// with an administrator's logon behind them. A path that reaches a server (UNC, or a device
// that forwards to one) would hand that logon's network credentials to whoever runs it; a pipe
// or a device is served by whoever opened it first; a relative path means the host's folder,
// not the client's. So the paths a client names must name files on a local drive in full, and
// anything else is refused from the text alone, before it is ever opened.

// The connection options that name files: the core's configuration, the state file, the stop
// marker and the done marker.
inline constexpr const wchar_t* kClientPathOptions[] = {L"--config", L"--state", L"--stop", L"--done"};

// True for "X:\..." (either separator after the drive) and "\\?\X:\...", naming something below
// the drive's root, with no stream (no colon past the drive) and no component that Windows
// reads as a device in any folder ("NUL", "COM1.txt"). Everything else is false: UNC paths,
// "\\?\UNC\", "\\?\GLOBALROOT", "\\.\" devices and pipes, "\??\" paths, and relative paths
// ("x", ".\x", "\x", "C:x").
bool IsLocalDrivePath(const WideString& path);

// `path` completed against the current folder as the system does it (GetFullPathNameW): the
// form a relative path has for the process that names it. Empty when the system cannot tell.
WideString FullPath(const WideString& path);

// True when every option of kClientPathOptions that `options` holds is such a path.
bool NamesOnlyLocalFiles(const OptionMap& options);
