#pragma once

#include <cstdint>

#include "base/text.h"

// The flags a restore applies: the saved ones, or with bit 31 set in them, the saved ones
// without bit 31 and with the current auto-detect bit added.
uint32_t FlagsToRestore(uint32_t savedFlags, uint32_t currentFlags);

// Under the path's proxy mutex: if a snapshot exists there (and its applied proxy server is
// `expectedProxy`, unless that is empty), puts the saved settings back when the current proxy
// server is still the applied one, then deletes the snapshot. Throws Win32Error; the file stays
// on every failure before the deletion.
void RestoreProxyFromState(const WideString& statePath, const WideString& expectedProxy);
