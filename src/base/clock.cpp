#include "base/clock.h"

ULONGLONG MonotonicMilliseconds() {
    // Both succeed on every Windows since XP, and the frequency is fixed at boot.
    static const ULONGLONG frequency = [] {
        LARGE_INTEGER perSecond{};
        QueryPerformanceFrequency(&perSecond);
        return static_cast<ULONGLONG>(perSecond.QuadPart);
    }();
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    const auto ticks = static_cast<ULONGLONG>(now.QuadPart);
    return ticks / frequency * 1000 + ticks % frequency * 1000 / frequency;
}
