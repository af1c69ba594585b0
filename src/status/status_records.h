#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "base/clock.h"
#include "base/file_io.h"
#include "base/text.h"
#include "base/win32.h"

// The failure group of a status record; a record without one is a progress or ready record.
struct StatusFailure {
    std::string_view code;
    uint32_t win32 = 0;
    uint32_t exitCode = 0;
};

// One status record: a single JSON object with keys in a fixed order and no white space.
// `ipv6Disabled` is used only with a failure.
ByteString BuildStatusEvent(std::string_view stage, const std::optional<StatusFailure>& failure, bool ipv6Disabled);

// The four bytes "done" that tell the client the host has finished.
inline constexpr char kDoneMarkerContent[] = "done";

// How long a run's last record and its done marker are tried, in all, while readers hold them.
inline constexpr ULONGLONG kLastWordMilliseconds = 10000;

// The state file and the done marker of one run, at the paths the client named (an empty path is
// never written). A record that a reader holds up (FileReplacement) is not dropped: it waits, and
// is tried again without its caller waiting for it. A record that cannot be written for any other
// reason (the folder refuses the client, no file may be replaced there) is lost.
class StatusFiles {
public:
    StatusFiles(const WideString& statePath, const WideString& donePath);

    // Replaces the state file with one record. When a reader holds the file, the record waits in
    // place of any record still waiting, so the file never gets an older record after a newer one.
    void Report(std::string_view stage, const std::optional<StatusFailure>& failure = std::nullopt);

    // Tries a waiting record again until it arrives or `until` (a MonotonicMilliseconds value) passes:
    // every millisecond for its first 250 ms, every 20 ms after that, whatever `until` the calls
    // give. Returns at once when no record waits; the caller spends what is left of the time.
    void RetryWaitingRecord(ULONGLONG until);

    // The run's last word: keeps trying the waiting record, then writes the done marker and keeps
    // trying it, every millisecond, for up to kLastWordMilliseconds in all. The marker is written
    // only once the record has arrived, or been given up.
    void DeliverLastRecordAndDoneMarker();

private:
    struct Waiting {
        Waiting(const WideString& path, const ByteString& content)
            : replacement(path, content), since(MonotonicMilliseconds()), nextTry(since) {}
        FileReplacement replacement;
        ULONGLONG since;
        ULONGLONG nextTry;
    };

    static void Deliver(std::optional<Waiting>& write, ULONGLONG until, bool lastWord);

    WideString statePath_;
    WideString donePath_;
    std::optional<Waiting> record_;
};
