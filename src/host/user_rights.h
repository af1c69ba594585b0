#pragma once

#include "base/unique_resource.h"

// The tokens the elevated host works with on the client's behalf.

// The client's own token, as an impersonation token that can be queried and duplicated: the
// rights with which the host works on the paths the client names. None when it cannot be had
// (GetLastError right after the call tells why).
UniqueHandleNull ClientImpersonationToken(HANDLE client);

// `token` cut down to what an unelevated program of its user holds, as an impersonation token:
// the Administrators group for deny only, no privileges but the one to traverse folders, medium
// integrity, and the user as the default owner of what it creates. The last two are set where
// the system supports it (Wine keeps neither). None when the copy cannot be made. Needs
// TOKEN_DUPLICATE and TOKEN_QUERY on `token`.
UniqueHandleNull UnelevatedCopy(HANDLE token);

// The host's own token cut down that way: its rights on client-named paths until the client is
// verified and its own token can be taken.
UniqueHandleNull UnelevatedCopyOfOwnToken();

// Where Windows offers it, refuses junctions and other redirections that a non-administrator
// created, for this process from now on. Elsewhere it changes nothing.
void RefuseRedirectionsByNonAdministrators();
