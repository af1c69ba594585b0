#pragma once

#include <cstddef>

#include "base/text.h"
#include "base/unique_resource.h"
#include "base/win32.h"

// The largest file that ReadWholeFile accepts.
inline constexpr size_t kMaxWholeFileBytes = 65536;

// What a look at a replacement's target found after a move over it failed: the error of opening
// it for deletion, sharing everything (ERROR_SUCCESS when it opened), and then its attributes.
struct ReplaceTargetLook {
    DWORD openError = ERROR_SUCCESS;
    DWORD attributes = 0;
};

// True when a move over a target failed only because another handle holds the target (a reader
// that shares no deletion; under a plain move, any reader) or the temporary file (a scanner): the
// same move succeeds once that handle is closed. False for a refusal that stays: access denied by
// the target's own access list, or a target that is no file that may be replaced (a folder, a
// read-only file), and for every other error.
bool IsHeldByAnotherHandle(DWORD moveError, const ReplaceTargetLook& target);

// A small file's new content on its way to replace the file: written and flushed to a temporary
// file of its own beside it (normally "<path>.tmp"), then moved over it by that file's handle, so
// that readers see the old content or the new one, never a torn file. Links at the temporary name
// are never written, moved or deleted through, a link at `path` is replaced, not followed, and
// nothing but a file on disk is written. In a process that handed over a token for client paths,
// every step runs with that token, and none where the token cannot be put on the thread.
// A move that another handle holds up leaves the replacement held: the content waits in its
// temporary file, and TryAgain moves it once that handle has gone.
class FileReplacement {
public:
    enum class State { kReplaced, kHeld, kRefused };

    // Writes the temporary file and makes the first attempt to move it over `path`. A temporary
    // file that cannot be written is deleted, and the replacement is refused.
    FileReplacement(const WideString& path, const ByteString& content);
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;
    // A replacement still held leaves its temporary file beside the target; the next write to the
    // target takes that name over.
    ~FileReplacement() = default;

    State Current() const { return state_; }
    // One more attempt at a held replacement; the state it is in afterwards.
    State TryAgain();
    // Puts newer content in place of a held replacement's, in the same temporary file, and tries
    // again. False when the replacement is not held, or the content could not be written (the
    // replacement is then given up and its temporary file deleted): write it anew.
    bool Supersede(const ByteString& content);

private:
    bool WriteTemporary(const ByteString& content);
    void DeleteTemporary();
    void TryToMove();

    WideString path_;
    UniqueHandleFile temporary_;
    State state_ = State::kRefused;
};

// How long WriteFileAtomically tries a held replacement again, every millisecond (or as finely as
// the system's timer allows): often enough to find the short gaps between busy readers' reads.
inline constexpr ULONGLONG kReplaceRetryMilliseconds = 250;

// A FileReplacement tried again for up to kReplaceRetryMilliseconds while it is held, then given
// up: after a failed write the temporary file is deleted, after a failed move it stays. Reports
// nothing.
void WriteFileAtomically(const WideString& path, const ByteString& content);

// ERROR_SUCCESS when something is at `path`; ERROR_FILE_NOT_FOUND when nothing is (its folder
// missing included); otherwise the error that kept the system from looking (access refused, say):
// then something may well be there.
DWORD LookAtPath(const WideString& path);

// Reads a file on disk of at most 65,536 bytes whole. Throws Win32Error: the open or read error,
// or 13 (ERROR_INVALID_DATA) for a larger file or anything but a file on disk.
ByteString ReadWholeFile(const WideString& path);
