#pragma once

#include <cstdint>

#include "base/text.h"
#include "base/win32.h"
#include "host/host_session.h"

// How the host learns that it is to end, and its last steps, whichever way it ends.

// True when the client has ended (or `client` cannot be waited on), or when anything exists at
// `stopPath`; also, without looking, when `stopPath` is not a local file (IsLocalDrivePath) or
// the client's rights cannot be put on the thread: the connection then ends rather than go on
// unsupervised by its client. Reads its input anew on every call.
bool IsStopRequested(HANDLE client, const WideString& stopPath);

// The host's exit code once a connection has ended, however it ended; a failure before the core
// started gives 1.
inline constexpr uint32_t kHostEnded = 0;

// Ends the job, and with it the core and everything the core started, then waits up to 5 s for
// the core to be gone.
void EndCoreAndItsJob(HostSession& session);

// The host's last step on every way out: closes its handles (core thread and process, pipe, job,
// client), then delivers the last record and the done marker, trying them for up to 10 s in all
// while readers hold them (StatusFiles), and returns `exitCode`.
uint32_t CloseAndDeliverLastWord(HostSession& session, uint32_t exitCode);
