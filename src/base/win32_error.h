#pragma once

#include "base/win32.h"

// A Windows error code, thrown by value by the file and proxy routines.
// Throw it as `throw Win32Error{code}`: the ERROR_* constants are `long` under
// MinGW, and a bare one would slip past `catch (Win32Error)`.
using Win32Error = DWORD;
