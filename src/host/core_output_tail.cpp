#include "host/core_output_tail.h"

#include <algorithm>
#include <array>

void CoreOutputTail::Append(std::string_view bytes) {
    if (bytes.size() >= kCapacity) {
        bytes_.assign(bytes.substr(bytes.size() - kCapacity));
        return;
    }
    bytes_.append(bytes);
    if (bytes_.size() > kCapacity) bytes_.erase(0, bytes_.size() - kCapacity);
}

void DrainPipe(HANDLE pipe, CoreOutputTail& tail) {
    std::array<char, 4096> buffer;
    // A core that writes as fast as we read would otherwise keep the host here for good,
    // and it would never again look at the stop marker, the client or the core.
    size_t budget = kDrainBudgetBytes;
    while (budget > 0) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
        const DWORD wanted = static_cast<DWORD>(std::min<size_t>({available, buffer.size(), budget}));
        DWORD read = 0;
        if (!ReadFile(pipe, buffer.data(), wanted, &read, nullptr) || read == 0) return;
        tail.Append(std::string_view(buffer.data(), read));
        budget -= read;
    }
}
