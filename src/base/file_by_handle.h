#pragma once

#include <cstdint>
#include <optional>

#include "base/text.h"
#include "base/unique_resource.h"
#include "base/win32.h"

// Work on the file that a handle holds, never on whatever a name points to by the time the
// work is done: a name can be swapped for a link between a check and a use.

// Added to the flags of every open of a path that a client names. Such a path may name a pipe
// that any program of the user serves; its server may then learn who opened it, but not act as
// them.
inline constexpr DWORD kClientPathOpenFlags = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

// Sharing that keeps no other program from reading, writing, renaming or deleting the file.
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens what is at `path` itself (a link there is opened, not followed) with `access`, sharing
// everything, as a client-named path is opened; none when it cannot be opened.
UniqueHandleFile OpenItself(const WideString& path, DWORD access);

// True when two names or paths are the same to the file system: letter case is ignored, as
// Windows ignores it in names.
bool SameName(const WideString& left, const WideString& right);

// True when the handle holds a file on disk, not a pipe, a console or another device.
bool IsDiskFile(HANDLE file);

// The path of the file or folder the handle holds, after every link on the way, as the system
// names it (without the "\\?\" prefix); empty when the system cannot tell.
WideString FinalPathOf(HANDLE file);

// True when the handle holds an ordinary file that is what `path` names: no directory, no
// reparse point, a single name, and its final path that of `path` itself. A link that the
// system followed while opening (as Wine does for Unix symbolic links) shows as another
// final path.
bool IsPlainFileNamed(HANDLE file, const WideString& path);

// True when both handles hold the same file: the same volume serial number and file index.
bool IsSameFile(HANDLE left, HANDLE right);

// Deletes the file the handle holds (which needs DELETE access), once the last handle closes.
bool DeleteThroughHandle(HANDLE file);

// Moves the file the handle holds to `target`, replacing what is there; a link at `target`
// is replaced, not followed. Needs DELETE access. Where the system offers it, the move has POSIX
// semantics: a reader that holds the old file sharing deletion keeps reading the old content
// while the new file takes its name. Where it lacks them (LacksPosixRename), a plain replacing
// move, which any open handle on the target refuses. False with the system's error otherwise.
bool MoveThroughHandle(HANDLE file, const WideString& target);

// True for the errors with which the system refuses a rename with POSIX semantics because it has
// none to offer (a Windows before 10 version 1709, a file system such as FAT, Wine).
bool LacksPosixRename(DWORD renameError);

// The folder that a full path names its last part in, opened to read its attributes, sharing
// everything; none when it cannot be opened.
UniqueHandleFile OpenFolderOf(const WideString& fullPath);

// The final path of that folder, after every junction or link on the way, without a trailing
// "\"; empty when the folder cannot be opened.
WideString FinalFolderPath(const WideString& fullPath);

// What tells one file from every other on the machine while it exists: the volume's serial
// number and the file's index on it. A file written anew at the same name is another file.
struct FileIdentity {
    uint32_t volumeSerial = 0;
    uint64_t fileIndex = 0;

    bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> IdentityOf(HANDLE file);

// The identity of the file on disk at `path` itself (a link there is not followed); none when
// nothing, or no file on disk, is there.
std::optional<FileIdentity> IdentityAt(const WideString& path);

// Deletes what is at `path` only if it is still the file of that identity.
bool DeleteIfStill(const WideString& path, const FileIdentity& identity);
