#include "base/client_path_access.h"

#include <cstdlib>
#include <utility>

namespace {

UniqueHandleNull& ClientPathToken() {
    static UniqueHandleNull token;
    return token;
}

}  // namespace

void UseForClientPaths(UniqueHandleNull impersonationToken) { ClientPathToken() = std::move(impersonationToken); }

ClientPathAccess::ClientPathAccess() {
    const UniqueHandleNull& token = ClientPathToken();
    if (!token) return;
    impersonating_ = SetThreadToken(nullptr, token.Get()) != FALSE;
    granted_ = impersonating_;
}

// A thread that cannot stop impersonating would go on with rights that are not its own; the
// process ends instead (its job, if it has one, ends the core).
ClientPathAccess::~ClientPathAccess() {
    if (impersonating_ && !RevertToSelf()) std::abort();
}
