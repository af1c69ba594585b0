#pragma once

#include <cstddef>
#include <string_view>

#include "base/text.h"
#include "base/win32.h"

// The last bytes the core wrote to its standard output and standard error (one pipe,
// interleaved), stored as written. Older bytes drop off the front.
class CoreOutputTail {
public:
    static constexpr size_t kCapacity = 8192;

    void Append(std::string_view bytes);
    const ByteString& Bytes() const { return bytes_; }

private:
    ByteString bytes_;
};

// The most one DrainPipe takes: far more than a core logs between two polls.
inline constexpr size_t kDrainBudgetBytes = 1 << 20;

// Moves whatever the pipe holds right now into the tail, never waiting for more:
// only bytes the pipe reports as available are read, and at most kDrainBudgetBytes.
void DrainPipe(HANDLE pipe, CoreOutputTail& tail);
