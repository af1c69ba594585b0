#include "app/dispatch.h"

#include <algorithm>
#include <array>
#include <new>
#include <vector>

#include "base/command_line.h"
#include "base/process.h"
#include "base/system_info.h"
#include "base/unique_resource.h"
#include "base/win32.h"
#include "host/core_host.h"
#include "launch/guard.h"
#include "launch/launcher.h"
#include "proxy/proxy_commands.h"
#include "status/status_records.h"

namespace {

// Every connection verb needs all of these, checked in this order.
constexpr std::array<const wchar_t*, 7> kConnectionOptions = {
    L"--config", L"--parent", L"--api", L"--interface", L"--state", L"--stop", L"--done",
};

bool AnyConnectionOptionMissing(const OptionMap& options) {
    for (const wchar_t* name : kConnectionOptions) {
        if (options.Get(name).empty()) return true;
    }
    return false;
}

// The proxy verbs and the guard use "--state" for the user's saved proxy settings: a status
// record must never overwrite it. Told by the verb alone, so that it holds even when choosing
// the handler failed.
bool StateNamesProxySnapshot(const WideString& verb) { return verb.starts_with(L"--proxy-") || verb == L"--guard"; }

uint32_t RunSelected(Handler selected, const WideString& verb, OptionMap& options) {
    switch (selected) {
        case Handler::NetworkCapabilities: return RunNetworkCapabilities();
        case Handler::Proxy: return RunProxyCommand(verb, options);
        case Handler::Guard: return RunGuard(options);
        case Handler::Launch: return RunLauncher(options);
        case Handler::Host: return RunHost(options);
        case Handler::RequiredOptionMissing:
        case Handler::Unrecognised: return kUsageExitCode;
    }
    return kUsageExitCode;
}

uint32_t HandleEscapedFailure(const WideString& verb, const OptionMap& options) {
    StatusFiles files(StateNamesProxySnapshot(verb) ? WideString() : options.Get(L"--state"), options.Get(L"--done"));
    files.Report("helper-exception", StatusFailure{"HELPER_ERROR", 0, 0});
    files.DeliverLastRecordAndDoneMarker();
    return kUsageExitCode;
}

}  // namespace

Handler SelectHandler(const WideString& verb, const OptionMap& options) {
    if (verb == L"--network-capabilities") return Handler::NetworkCapabilities;
    if (verb.starts_with(L"--proxy-")) return Handler::Proxy;
    if (verb == L"--guard") return Handler::Guard;
    if (AnyConnectionOptionMissing(options)) return Handler::RequiredOptionMissing;
    if (verb == L"--launch") return Handler::Launch;
    if (verb == L"--host") return Handler::Host;
    return Handler::Unrecognised;
}

uint32_t RunVerb(const WideString& verb, OptionMap& options) {
    try {
        return RunSelected(SelectHandler(verb, options), verb, options);
    } catch (...) {
        return HandleEscapedFailure(verb, options);
    }
}

uint32_t RunHelper(const wchar_t* commandLine) {
    int count = 0;
    const UniqueLocalMemory arguments(CommandLineToArgvW(commandLine, &count));
    if (!arguments) return kUsageExitCode;
    const auto* argumentList = static_cast<wchar_t* const*>(arguments.Get());
    ParsedCommandLine parsed;
    // Copying the arguments allocates; with no options known yet, a refused allocation can
    // only end the run as a failed start-up does.
    try {
        const std::vector<WideString> afterProgram(argumentList + std::min(count, 1), argumentList + count);
        if (afterProgram.empty()) return kUsageExitCode;
        parsed = ParseArguments(afterProgram);
    } catch (const std::bad_alloc&) {
        return kUsageExitCode;
    }
    return RunVerb(parsed.verb, parsed.options);
}

ByteString BuildCapabilitiesReport(bool ipv6Disabled) {
    return ByteString("{\"ipv6Disabled\":") + (ipv6Disabled ? "true" : "false") + "}";
}

uint32_t RunNetworkCapabilities() {
    WriteStandardOutput(BuildCapabilitiesReport(IsIpv6Disabled()));
    return 0;
}
