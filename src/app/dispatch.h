#pragma once

#include <cstdint>

#include "base/command_line.h"
#include "base/text.h"

// What runs for a verb: one of the handlers, or the usage exit for a missing option or an
// unrecognised verb.
enum class Handler {
    NetworkCapabilities,
    Proxy,
    Guard,
    RequiredOptionMissing,
    Launch,
    Host,
    Unrecognised,
};

// Chooses the handler, first match wins: the verbs that need no options, then the check
// that the connection options are all present, then the connection verbs.
Handler SelectHandler(const WideString& verb, const OptionMap& options);

// Runs the verb's handler under the top-level failure handler and returns the exit code.
uint32_t RunVerb(const WideString& verb, OptionMap& options);

// The whole run: splits the command line (program name first) and runs the verb.
uint32_t RunHelper(const wchar_t* commandLine);

// {"ipv6Disabled":true} or {"ipv6Disabled":false}, with no line end.
ByteString BuildCapabilitiesReport(bool ipv6Disabled);

// The "--network-capabilities" verb: prints the report and returns 0.
uint32_t RunNetworkCapabilities();
