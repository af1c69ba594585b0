// The proxy verbs' output lines, spelled out here rather than taken from the helper's own
// builders, so that a change to the helper's output shows.
#pragma once

#include <string>

namespace proxy_testing {

std::string StatusLine(bool proxyEnabled, bool proxyMatches, bool pacEnabled, bool autoDetect);
std::string ErrorLine(unsigned long code);
// The status line of a successful enable.
std::string EnabledLine();

}  // namespace proxy_testing
