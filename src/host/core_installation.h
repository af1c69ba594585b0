#pragma once

#include "base/text.h"
#include "base/unique_resource.h"

// What the host runs elevated must be beyond the reach of the user who asked for it: otherwise
// any program of the user could copy the helper into a folder of its own, put itself at
// router\sing-box.exe beside it, and be run as administrator with the helper's signature on the
// consent prompt. So the helper's folder, its router folder and router\sing-box.exe are checked
// before the core starts, and held so that none of them is swapped until it has.

// What would let a user change what runs from a file or folder: writing or appending data (in a
// folder: adding a file or a subfolder), deleting it or anything in it, changing its attributes,
// its access list or its owner.
inline constexpr DWORD kChangingAccess =
    FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES | WRITE_DAC | WRITE_OWNER;

// Asks the system whether `userRights` (an impersonation token) is granted any changing access to
// a file or folder that `descriptor` (owner, group and access list) protects: the system knows
// owner rights, inheritance-only entries and deny entries. 0 when it is granted none,
// ERROR_ACCESS_DENIED when it is granted some, or the error of a check that could not be made.
DWORD RefuseChangeableBy(PSECURITY_DESCRIPTOR descriptor, HANDLE userRights);

// The installation the running helper belongs to, found from the final path of its own image
// (not the path it was started by), held open without write or delete sharing for as long as
// this object lives.
class HeldInstallation {
public:
    // Opens the three. 0, ERROR_FILE_NOT_FOUND when the router folder or the core is missing, or
    // the error of an open that failed otherwise.
    DWORD Hold();

    // 0 when `userRights` may change none of the three; otherwise as RefuseChangeableBy.
    DWORD RefuseChangeableBy(HANDLE userRights) const;

    // The helper's folder, as its final path names it; the core's plan is made from it.
    const WideString& HelperDirectory() const { return helperDirectory_; }

private:
    WideString helperDirectory_;
    UniqueHandleFile helperFolder_;
    UniqueHandleFile routerFolder_;
    UniqueHandleFile core_;
};
