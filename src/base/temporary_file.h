#pragma once

#include "base/text.h"
#include "base/unique_resource.h"

// A new, empty file of the caller's own beside `path`, to be written and then moved over it:
// "<path>.tmp", created with create-new semantics so that nothing already there is written
// through. An ordinary file left there by a crash between write and move goes first. Anything
// else at that name (a link of any kind, a folder, a file someone holds) stays untouched, and a
// fresh name of this process's own, "<path>.<process id>.<n>.tmp", is used instead.
// The handle has write and delete access and shares reading only; none when no name could be
// created (a missing folder, for one).
UniqueHandleFile CreateTemporaryFileFor(const WideString& path);
