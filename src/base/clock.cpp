#include "base/clock.h"

#include <atomic>

namespace {

// 0 when the counter cannot be had.
ULONGLONG CounterFrequency() {
    LARGE_INTEGER perSecond{};
    return QueryPerformanceFrequency(&perSecond) && perSecond.QuadPart > 0 ? static_cast<ULONGLONG>(perSecond.QuadPart)
                                                                          : 0;
}

std::atomic<bool> counterFailed{false};
std::atomic<ULONGLONG> lastCounterMilliseconds{0};
// Added to GetTickCount64 once the counter has failed, so that the clock goes on from where the
// counter left it instead of jumping (a deadline taken before must still fall due).
std::atomic<ULONGLONG> tickOffset{0};

}  // namespace

ULONGLONG MonotonicMilliseconds() {
    // Neither call fails on any Windows since XP; should one, the clock carries on, coarser.
    static const ULONGLONG frequency = CounterFrequency();
    LARGE_INTEGER now{};
    if (frequency != 0 && !counterFailed.load() && QueryPerformanceCounter(&now)) {
        const auto ticks = static_cast<ULONGLONG>(now.QuadPart);
        const ULONGLONG milliseconds = ticks / frequency * 1000 + ticks % frequency * 1000 / frequency;
        lastCounterMilliseconds.store(milliseconds);
        return milliseconds;
    }
    if (frequency != 0 && !counterFailed.exchange(true)) {
        tickOffset.store(lastCounterMilliseconds.load() - GetTickCount64());
    }
    return GetTickCount64() + tickOffset.load();
}
