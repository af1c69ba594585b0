#pragma once

#include <cstddef>

#include "base/text.h"
#include "base/unique_resource.h"

// What the host runs elevated must be beyond the reach of anyone but the administrators:
// otherwise any program of a user could copy the helper into a folder of its own, put itself at
// router\sing-box.exe or router\wintun.dll beside it, and be run as administrator with the
// helper's signature on the consent prompt. So before the core starts, the helper's folder, the
// helper, router and everything under router are judged by their owners and access entries
// (administrators_only.h), and the folders and the core are held so that none of them is swapped
// until it has.

// The most files and folders under router that are judged; a larger tree is refused rather than
// walked for long. An installation's router folder holds the core, a few DLLs and perhaps rule
// sets: some hundreds of files.
inline constexpr size_t kMostEntriesUnderRouter = 4096;

// The installation the running helper belongs to, found from the final path of its own image
// (not the path it was started by). Its folder, router and router\sing-box.exe are held for as
// long as this object lives: opened with data access (reading and running the core, listing the
// folders) and sharing reading only, so that the system refuses to write, delete or rename any of
// them, or to replace them by a rename. Sharing binds only handles with data access; one that
// reads attributes alone holds nothing.
class HeldInstallation {
public:
    // Opens the helper beside `helperImage` (the running helper's path) and holds the three.
    // 0, ERROR_FILE_NOT_FOUND when the router folder or the core is missing, or the error of an
    // open that failed otherwise.
    DWORD Hold(const WideString& helperImage);

    // 0 when the installation lies on a fixed local drive, and administrators alone may change
    // the helper's folder, the helper, router and every file and folder under router, of which
    // there are at most kMostEntriesUnderRouter and none is a link, a junction or another
    // reparse point; ERROR_ACCESS_DENIED when not; or the error of a look that failed.
    DWORD RefuseUnlessAdministratorsOnly() const;

    // True when `process` runs the very core held (the same volume and file index), not whatever
    // its path named by the time the process was created.
    bool IsCoreImageOf(HANDLE process) const;

    // The helper's folder, as its final path names it; the core's plan is made from it.
    const WideString& HelperDirectory() const { return helperDirectory_; }

private:
    WideString helperDirectory_;
    UniqueHandleFile helper_;
    UniqueHandleFile helperFolder_;
    UniqueHandleFile routerFolder_;
    UniqueHandleFile core_;
};
