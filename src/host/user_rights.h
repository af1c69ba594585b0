#pragma once

#include <vector>

#include "base/unique_resource.h"

// The host's own token cut down to the rights of the user who started it, as an impersonation
// token: the Administrators group for deny only, no privileges but the one to traverse folders,
// medium integrity, and the user as the default owner of what it creates. The last two are set
// where the system supports it (Wine keeps neither and enforces no access lists at all). None
// when the token cannot be made.
UniqueHandleNull MakeUserRightsToken();

// One kind of a token's information, as the system lays it out; empty when it cannot be read.
std::vector<unsigned char> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind);

// Where Windows offers it, refuses junctions and other redirections that a non-administrator
// created, for this process from now on. Elsewhere it changes nothing.
void RefuseRedirectionsByNonAdministrators();
