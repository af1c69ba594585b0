#pragma once

#include "base/text.h"

// Full path of the running executable; empty when the system cannot tell.
WideString GetExecutablePath();

// The directory part of a path: everything before its last "\" or "/";
// the whole path when it holds neither.
WideString DirectoryOf(const WideString& path);

// The directory of the running executable.
WideString GetHelperDirectory();
