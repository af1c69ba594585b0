#pragma once

#include <cstdint>
#include <vector>

#include "base/text.h"
#include "base/win32.h"

// Full path of the running executable; empty when the system cannot tell.
WideString GetExecutablePath();

// Full path of the image that `process` runs; empty when the system cannot tell. Needs
// PROCESS_QUERY_LIMITED_INFORMATION.
WideString ProcessImagePath(HANDLE process);

// The directory part of a path: everything before its last "\" or "/";
// the whole path when it holds neither.
WideString DirectoryOf(const WideString& path);

// The host runs elevated from a folder the user may write to, so no DLL may be found
// there. Called first thing: later loads, ours and the system's, search System32 only.
void RestrictDllSearchToSystem32();

// Loads `library` from System32 alone (never from the helper's folder) and returns
// `function` from it. Throws Win32Error when either cannot be found.
FARPROC LoadSystemFunction(const wchar_t* library, const char* function);

template <typename Function>
Function* LoadSystemFunction(const wchar_t* library, const char* function) {
    // Through void(*)(), the type that converts to any function pointer without a warning.
    return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(LoadSystemFunction(library, function)));
}

// Writes the bytes to standard output with one WriteFile; a failed write is ignored.
void WriteStandardOutput(const ByteString& bytes);

// A FILETIME as the one 64-bit count of 100-nanosecond intervals that it is.
inline uint64_t FileTimeCount(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// When the process was created, as that count: what tells a client from a later process that
// got its id. False when the system cannot tell (GetLastError right after the call says why).
// Needs PROCESS_QUERY_LIMITED_INFORMATION.
bool ReadCreationTime(HANDLE process, uint64_t& creationTime);

// One kind of a token's information, as the system lays it out; empty when it cannot be read
// (GetLastError right after the call tells why).
std::vector<unsigned char> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind);
