#pragma once

#include <vector>

#include "base/win32.h"

// The host runs the core elevated, and the core loads and reads what lies beside it. So every
// file and folder of the installation must be one that administrators alone may change, and
// that is judged from what it carries, its owner and its access entries, not from what one
// account or another happens to be granted: any account but the administrators' (another user,
// a service, everyone) that may change it could make the elevated core run its code.

// The rights that change a file or a folder, or let their holder give themselves that: writing
// or appending data (in a folder: adding a file or a subfolder), writing attributes or extended
// attributes, deleting it or anything in it, changing its access list or its owner, and the
// generic rights that hold them.
inline constexpr ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                             FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                             WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

enum class Protection {
    AdministratorsOnly,   // owned by an administrator, and no entry grants anyone else a change right
    OwnedByAnother,       // no owner, or one that is not an administrator: an owner may always rewrite the list
    ChangeableByAnother,  // no access list (everyone may do everything), or an entry granting another a change right
    CannotBeJudged,       // an entry whose effect depends on more than its SID and rights (conditional, callback,
                          // an allowing object entry, or unknown), or a descriptor that cannot be read
};

// The accounts that may own and change what runs elevated: SYSTEM, the Administrators group and
// TrustedInstaller, which owns what Windows itself installs.
class Administrators {
public:
    // `othersOfWine`: also Anonymous Logon, the name Wine gives every Unix user but the one that
    // runs it. There an installation that another Unix user laid out reads as owned by Anonymous
    // Logon, and it is the one the user running Wine cannot change. On Windows no installation is
    // Anonymous Logon's, and any program may act as it (ImpersonateAnonymousToken).
    explicit Administrators(bool othersOfWine);

    // The administrators of the system the helper runs on.
    static Administrators OfThisSystem();

    bool Include(PSID sid) const;

private:
    std::vector<std::vector<unsigned char>> sids_;
};

// Whether administrators alone may change what `descriptor` (owner and access list) protects.
// Deny entries only take rights away and entries marked inherit-only do not apply to the object
// itself, so neither can let anyone in; every other entry must grant no change right to any SID
// but an administrator's.
Protection JudgeProtection(PSECURITY_DESCRIPTOR descriptor, const Administrators& administrators);

// True only for a fixed local drive. A removable disk or a network share may have been prepared
// elsewhere, where the administrators' SIDs are the same well-known ones and anyone may have
// owned the machine; on a share the server also decides who may write and what a file's identity
// is.
constexpr bool IsFixedLocalDrive(UINT driveType) { return driveType == DRIVE_FIXED; }
