#include "status/state_file.h"

#include "base/file_io.h"
#include "base/system_info.h"

void ReportStatus(const WideString& statePath, std::string_view stage, const std::optional<StatusFailure>& failure) {
    const bool ipv6Disabled = failure ? IsIpv6Disabled() : false;
    WriteFileAtomically(statePath, BuildStatusEvent(stage, failure, ipv6Disabled));
}
