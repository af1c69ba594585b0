#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// The size of the file at `path`, taken without opening it (a reader that holds the file
// open makes a writer's replacing move fail); nothing when it does not exist.
std::optional<uint64_t> FileSizeWithoutOpening(const std::wstring& path);

// Follows a file that another process replaces whole, by its size only: the sizes it
// has had, in order, each noted once per change.
class FileSizeHistory {
public:
    explicit FileSizeHistory(std::wstring path) : path_(std::move(path)) {}

    // Looks once; returns the current size, if the file exists.
    std::optional<uint64_t> Poll();
    // Polls without pause until `done` answers true for the history or the time is up.
    bool PollUntil(const std::function<bool(const std::vector<uint64_t>&)>& done, uint32_t timeoutMilliseconds);
    const std::vector<uint64_t>& Sizes() const { return sizes_; }

private:
    std::wstring path_;
    std::vector<uint64_t> sizes_;
};

// Polls every few milliseconds until `condition` holds or the time is up.
bool WaitUntil(const std::function<bool()>& condition, uint32_t timeoutMilliseconds);

}  // namespace testing_support
