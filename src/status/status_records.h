#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "base/text.h"

// The failure group of a status record; a record without one is a progress or ready record.
struct StatusFailure {
    std::string_view code;
    uint32_t win32 = 0;
    uint32_t exitCode = 0;
};

// One status record: a single JSON object with keys in a fixed order and no white space.
// `ipv6Disabled` is used only with a failure.
ByteString BuildStatusEvent(std::string_view stage, const std::optional<StatusFailure>& failure, bool ipv6Disabled);

// Replaces the state file at `statePath` with one status record. A failed write goes unnoticed.
void ReportStatus(const WideString& statePath, std::string_view stage,
                  const std::optional<StatusFailure>& failure = std::nullopt);

// The four bytes "done" that tell the client the host has finished.
inline constexpr char kDoneMarkerContent[] = "done";

// Writes the done marker at `donePath`; a failed write goes unnoticed.
void WriteDoneMarker(const WideString& donePath);
