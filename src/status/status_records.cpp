#include "status/status_records.h"

#include <string>

#include "base/file_io.h"
#include "base/system_info.h"

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

void ReportStatus(const WideString& statePath, std::string_view stage, const std::optional<StatusFailure>& failure) {
    const bool ipv6Disabled = failure ? IsIpv6Disabled() : false;
    WriteFileAtomically(statePath, BuildStatusEvent(stage, failure, ipv6Disabled));
}

void WriteDoneMarker(const WideString& donePath) { WriteFileAtomically(donePath, kDoneMarkerContent); }
