#include "status/status_records.h"

#include <algorithm>
#include <string>

#include "base/file_io.h"
#include "base/system_info.h"

namespace {

// Busy readers leave gaps of a millisecond or less between their reads; past the quick spell, a
// reader holds the file for good or for a while, and the record waits for it at a pace that
// costs the host little.
constexpr ULONGLONG kQuickRetryMilliseconds = kReplaceRetryMilliseconds;
constexpr DWORD kQuickRetryPause = 1;
constexpr DWORD kSlowRetryPause = 20;

// The pause before a waiting write's next attempt, given how long it has waited.
DWORD RetryPause(ULONGLONG waitedMilliseconds) {
    return waitedMilliseconds < kQuickRetryMilliseconds ? kQuickRetryPause : kSlowRetryPause;
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

void StatusFiles::RetryUntil(ULONGLONG until) {
    Deliver(record_, until);
    const ULONGLONG now = GetTickCount64();
    if (now < until) Sleep(static_cast<DWORD>(until - now));
}

void StatusFiles::DeliverLastRecordAndDoneMarker() {
    const ULONGLONG until = GetTickCount64() + kLastWordMilliseconds;
    Deliver(record_, until);
    if (donePath_.empty()) return;
    std::optional<Waiting> marker(std::in_place, donePath_, kDoneMarkerContent);
    Deliver(marker, until);
}

void StatusFiles::Deliver(std::optional<Waiting>& write, ULONGLONG until) {
    while (write && write->replacement.Current() == FileReplacement::State::kHeld) {
        const ULONGLONG now = GetTickCount64();
        if (now >= until) return;
        Sleep(static_cast<DWORD>(std::min<ULONGLONG>(RetryPause(now - write->since), until - now)));
        write->replacement.TryAgain();
    }
}

