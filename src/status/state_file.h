#pragma once

#include <optional>
#include <string_view>

#include "base/text.h"
#include "status/status_event_json.h"

// Replaces the state file at `statePath` with one status record. A failed write goes unnoticed.
void ReportStatus(const WideString& statePath, std::string_view stage,
                  const std::optional<StatusFailure>& failure = std::nullopt);
