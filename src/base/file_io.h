#pragma once

#include <cstddef>

#include "base/text.h"
#include "base/win32.h"

// The largest file that ReadWholeFile accepts.
inline constexpr size_t kMaxWholeFileBytes = 65536;

// A replacing move fails while another process has the target open (a reader that opened it
// without delete sharing, as most runtimes' "read whole file" calls do), or the temporary file
// (a scanner). It is tried again every millisecond (or as finely as the system's timer allows),
// often enough to find the short gaps between busy readers' reads, for 250 ms; then the write
// is given up. That bounds the delay that a held file adds to one write.
inline constexpr ULONGLONG kReplaceRetryMilliseconds = 250;

// True for the errors with which a replacing move fails while another handle holds the target or
// the temporary file (access denied, a sharing or a lock violation): that move is tried again.
bool IsHeldByAnotherHandle(DWORD moveError);

// Replaces the file through a temporary file of its own beside it (normally "<path>.tmp") and a
// replacing move of exactly that file, so that readers see the old content or the new one, never
// a torn file. Links at the temporary name are never written, moved or deleted through, a link
// at `path` is replaced, not followed, and nothing but a file on disk is written. In a process
// that handed over a token for client paths, all of it runs with that token, and nothing is
// written where the token cannot be put on the thread. Best effort: reports nothing; after a
// failed write the temporary file is deleted, after a failed move it stays.
void WriteFileAtomically(const WideString& path, const ByteString& content);

// ERROR_SUCCESS when something is at `path`; ERROR_FILE_NOT_FOUND when nothing is (its folder
// missing included); otherwise the error that kept the system from looking (access refused, say):
// then something may well be there.
DWORD LookAtPath(const WideString& path);

// Reads a file on disk of at most 65,536 bytes whole. Throws Win32Error: the open or read error,
// or 13 (ERROR_INVALID_DATA) for a larger file or anything but a file on disk.
ByteString ReadWholeFile(const WideString& path);
