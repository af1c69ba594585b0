#include "base/client_path_access.h"

namespace {

// Lives as long as the process.
HANDLE userRightsToken = nullptr;

}  // namespace

void UseForClientPaths(HANDLE impersonationToken) { userRightsToken = impersonationToken; }

ClientPathAccess::ClientPathAccess() {
    if (userRightsToken == nullptr) return;
    impersonating_ = SetThreadToken(nullptr, userRightsToken) != FALSE;
    granted_ = impersonating_;
}

ClientPathAccess::~ClientPathAccess() {
    if (impersonating_) RevertToSelf();
}
