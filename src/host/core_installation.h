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

// Whether `userRights` (an unelevated impersonation token) could change a file or folder that
// `descriptor` (owner, group and access list) protects. ERROR_ACCESS_DENIED when the owner is its
// user or one of its enabled groups (IsOwnedBy: an owner can always take the right back), or when
// the system (AccessCheck: owner rights, inheritance-only and deny entries) grants it any changing
// access; 0 when neither; or the error of a check that could not be made.
DWORD RefuseChangeableBy(PSECURITY_DESCRIPTOR descriptor, HANDLE userRights);

// The installation the running helper belongs to, found from the final path of its own image
// (not the path it was started by), held for as long as this object lives: opened with data
// access (reading and running the core, listing the folders) and sharing reading only, so that
// the system refuses to write, delete or rename any of them, or to replace them by a rename.
// Sharing binds only handles with data access; one that reads attributes alone holds nothing.
class HeldInstallation {
public:
    // Opens the three beside `helperImage` (the running helper's path). 0, ERROR_FILE_NOT_FOUND
    // when the router folder or the core is missing, or the error of an open that failed otherwise.
    DWORD Hold(const WideString& helperImage);

    // 0 when `userRights` may change none of the three; otherwise as RefuseChangeableBy.
    DWORD RefuseChangeableBy(HANDLE userRights) const;

    // True when `process` runs the very core held (the same volume and file index), not whatever
    // its path named by the time the process was created.
    bool IsCoreImageOf(HANDLE process) const;

    // The helper's folder, as its final path names it; the core's plan is made from it.
    const WideString& HelperDirectory() const { return helperDirectory_; }

private:
    WideString helperDirectory_;
    UniqueHandleFile helperFolder_;
    UniqueHandleFile routerFolder_;
    UniqueHandleFile core_;
};
