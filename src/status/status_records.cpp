#include "status/status_records.h"

#include <algorithm>
#include <string>

#include "base/file_io.h"
#include "base/system_info.h"

namespace {

// Busy readers leave gaps of a millisecond or less between their reads. While the host supervises,
// a record past the quick spell waits for a reader that holds the file for good or for a while,
// at a pace that costs the host little; the last word, which the client waits for, keeps the
// quick pace: on a loaded machine busy readers' gaps are few.
constexpr ULONGLONG kQuickRetryMilliseconds = kReplaceRetryMilliseconds;
constexpr DWORD kQuickRetryPause = 1;
constexpr DWORD kSlowRetryPause = 20;

// The pause before a waiting write's next attempt, given how long it has waited.
DWORD RetryPause(ULONGLONG waitedMilliseconds, bool lastWord) {
    return lastWord || waitedMilliseconds < kQuickRetryMilliseconds ? kQuickRetryPause : kSlowRetryPause;
}

}  // namespace

ByteString BuildStatusEvent(std::string_view stage, const std::optional<StatusFailure>& failure, bool ipv6Disabled) {
    ByteString event = "{\"stage\":\"";
    event += stage;
    event += '"';
    if (failure) {
        event += ",\"ipv6Disabled\":";
        event += ipv6Disabled ? "true" : "false";
        event += ",\"failed\":true,\"code\":\"";
        event += failure->code;
        event += "\",\"win32\":";
        event += std::to_string(failure->win32);
        event += ",\"exitCode\":";
        event += std::to_string(failure->exitCode);
    }
    if (stage == "ready") event += ",\"started\":true,\"interfaceReady\":true";
    event += '}';
    return event;
}

StatusFiles::StatusFiles(const WideString& statePath, const WideString& donePath)
    : statePath_(statePath), donePath_(donePath) {}

void StatusFiles::Report(std::string_view stage, const std::optional<StatusFailure>& failure) {
    if (statePath_.empty()) return;
    const bool ipv6Disabled = failure ? IsIpv6Disabled() : false;
    const ByteString record = BuildStatusEvent(stage, failure, ipv6Disabled);
    if (record_ && record_->replacement.Supersede(record)) return;
    record_.emplace(statePath_, record);
}

void StatusFiles::RetryWaitingRecord(ULONGLONG until) { Deliver(record_, until, false); }

void StatusFiles::DeliverLastRecordAndDoneMarker() {
    const ULONGLONG until = MonotonicMilliseconds() + kLastWordMilliseconds;
    Deliver(record_, until, true);
    if (donePath_.empty()) return;
    std::optional<Waiting> marker(std::in_place, donePath_, kDoneMarkerContent);
    Deliver(marker, until, true);
}

void StatusFiles::Deliver(std::optional<Waiting>& write, ULONGLONG until, bool lastWord) {
    while (write && write->replacement.Current() == FileReplacement::State::kHeld) {
        const ULONGLONG now = MonotonicMilliseconds();
        if (now >= until) return;
        if (now < write->nextTry) {
            Sleep(static_cast<DWORD>(std::min(write->nextTry, until) - now));
            continue;
        }
        write->replacement.TryAgain();
        write->nextTry = MonotonicMilliseconds() + RetryPause(now - write->since, lastWord);
    }
}

