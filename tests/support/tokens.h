// Tokens in the tests: under Wine every process has the same full administrator token, so a
// test that must tell whose rights the helper works with gives its client a token of its own.
#pragma once

#include <set>
#include <string>

#include "base/unique_resource.h"

namespace testing_support {

// A primary token for a client that is not this process's twin: this process's own token with
// the Administrators group for deny only, as Windows gives an administrator's unelevated
// programs, and the Users group for deny only too, so that even cut down to an unelevated
// program's rights it differs from this process's token cut down. Its privileges stay.
UniqueHandleNull UnelevatedClientToken();

// Whose rights a token carries, as one comparable text: its user, then every group with its
// attributes, then every privilege.
std::string TokenRights(HANDLE token);

// True when rights of TokenRights' form hold the Administrators group for deny only.
bool AdministratorsOnlyDeny(const std::string& rights);

// Rights of TokenRights' form with every privilege taken away but the one to traverse folders.
std::string WithOnlyTraversePrivilege(const std::string& rights);

// The rights of a process's own token; empty when it cannot be opened.
std::string ProcessTokenRights(HANDLE process);

// The rights of every token that a thread of the process impersonates at this moment.
std::set<std::string> ImpersonatedRights(DWORD processId);

}  // namespace testing_support
