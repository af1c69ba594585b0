#pragma once

#include "base/text.h"
#include "base/unique_resource.h"

// The tokens the elevated host works with on the client's behalf.

// What tells an ordinary interactive user's program from anything else that could name itself
// the client: a restricted, sandboxed or low-integrity program, or a service.
struct TokenFacts {
    WideString user;  // the user's SID, as text ("S-1-5-21-...")
    DWORD restrictingSids = 0;
    bool appContainer = false;
    DWORD sessionId = 0;
    DWORD integrity = 0;  // the relative id of its integrity label: SECURITY_MANDATORY_*_RID
};

// False when any of them cannot be read. Needs TOKEN_QUERY.
bool ReadTokenFacts(HANDLE token, TokenFacts& facts);

// True for the token of a program that an ordinary user runs in `hostSessionId`, the host's own
// session: no restricting SIDs, no AppContainer, at least medium integrity, not SYSTEM,
// LocalService or NetworkService, not another session's. A restricted, sandboxed or low-integrity
// program is kept from much that its user may do, and the elevated host, which acts for it, must
// not become its way around that.
bool IsOrdinaryInteractiveClient(const TokenFacts& client, DWORD hostSessionId);

// The same, read from `clientToken` and the host's own token; false when either cannot be read.
bool IsOrdinaryInteractiveClient(HANDLE clientToken);

// The client's own token, as an impersonation token that can be queried and duplicated; the host
// works with its unelevated copy, never with it. None when it cannot be had (GetLastError right
// after the call tells why).
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
