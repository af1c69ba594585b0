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
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
        const DWORD wanted = std::min<DWORD>(available, buffer.size());
        DWORD read = 0;
        if (!ReadFile(pipe, buffer.data(), wanted, &read, nullptr) || read == 0) return;
        tail.Append(std::string_view(buffer.data(), read));
    }
}
