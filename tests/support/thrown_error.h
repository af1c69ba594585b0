#pragma once

#include <functional>
#include <optional>

#include "base/win32.h"

namespace testing_support {

// The Win32Error that `action` throws, or nothing when it returns normally.
inline std::optional<Win32Error> ThrownError(const std::function<void()>& action) {
    try {
        action();
    } catch (Win32Error code) {
        return code;
    }
    return std::nullopt;
}

}  // namespace testing_support
