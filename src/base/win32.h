// The one place that includes <windows.h>, with the defines the helper builds with.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <shellapi.h>

// A Windows error code, thrown by value by the file and proxy routines.
// Throw it as `throw Win32Error{code}`: the ERROR_* constants are `long` under
// MinGW, and a bare one would slip past `catch (Win32Error)`.
using Win32Error = DWORD;
