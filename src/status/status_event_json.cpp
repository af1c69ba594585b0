#include "status/status_event_json.h"

#include <string>

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
