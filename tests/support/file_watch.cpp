#include "support/file_watch.h"

#include "base/win32.h"

namespace testing_support {

std::optional<uint64_t> FileSizeWithoutOpening(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes)) return std::nullopt;
    return (static_cast<uint64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
}

std::optional<uint64_t> FileSizeHistory::Poll() {
    const std::optional<uint64_t> size = FileSizeWithoutOpening(path_);
    if (size && (sizes_.empty() || sizes_.back() != *size)) sizes_.push_back(*size);
    return size;
}

bool FileSizeHistory::PollUntil(const std::function<bool(const std::vector<uint64_t>&)>& done,
                                uint32_t timeoutMilliseconds) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMilliseconds;
    for (;;) {
        Poll();
        if (done(sizes_)) return true;
        if (GetTickCount64() > deadline) return false;
        SwitchToThread();
    }
}

bool WaitUntil(const std::function<bool()>& condition, uint32_t timeoutMilliseconds) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMilliseconds;
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() > deadline) return false;
        Sleep(5);
    }
}

}  // namespace testing_support
