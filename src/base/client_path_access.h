#pragma once

#include "base/unique_resource.h"

// An elevated process must not work on a path that a user names with the administrator's
// rights: the user can plant links on the way that steer the work into any file. The host
// therefore hands over a token with the user's rights, and every file operation on a
// client-named path runs under a ClientPathAccess, which puts that token on the thread.
// Processes that never hand one over (every unelevated verb) work as they are.

// Keeps `impersonationToken` for the rest of the process (or until the next call), closing the
// one handed over before.
void UseForClientPaths(UniqueHandleNull impersonationToken);

// While it lives, the calling thread impersonates the token handed over, if any. Not nested.
class ClientPathAccess {
public:
    ClientPathAccess();
    ClientPathAccess(const ClientPathAccess&) = delete;
    ClientPathAccess& operator=(const ClientPathAccess&) = delete;
    ~ClientPathAccess();

    // False when a token was handed over but could not be put on the thread: the work on the
    // client-named path must then not happen at all.
    bool Granted() const { return granted_; }

private:
    bool impersonating_ = false;
    bool granted_ = true;
};
