#pragma once

#include "base/win32.h"
#include "base/win32_error.h"

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
