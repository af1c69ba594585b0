#include "app/dispatch.h"

#include <array>
#include <vector>

#include "app/capabilities.h"
#include "base/win32.h"
#include "host/core_host.h"
#include "launch/guard.h"
#include "launch/launcher.h"
#include "proxy/proxy_command.h"
#include "status/done_marker.h"
#include "status/status_event.h"

namespace {

constexpr uint32_t kUsageExitCode = 2;

// Every connection verb needs all of these, checked in this order.
constexpr std::array<const wchar_t*, 7> kConnectionOptions = {
    L"--config", L"--parent", L"--api", L"--interface", L"--state", L"--stop", L"--done",
};

bool AnyConnectionOptionMissing(OptionMap& options) {
    for (const wchar_t* name : kConnectionOptions) {
        if (options.Get(name).empty()) return true;
    }
    return false;
}

// The proxy verbs and the guard use "--state" for the user's saved proxy settings:
// a status record must never overwrite it.
bool StateNamesProxySnapshot(Verb selected) { return selected == Verb::Proxy || selected == Verb::Guard; }

uint32_t RunSelected(Verb selected, const WideString& verb, OptionMap& options) {
    switch (selected) {
        case Verb::NetworkCapabilities: return RunNetworkCapabilities();
        case Verb::Proxy: return RunProxyCommand(verb, options);
        case Verb::Guard: return RunGuard(options);
        case Verb::Launch: return RunLauncher(options);
        case Verb::Host: return RunHost(options);
        case Verb::RequiredOptionMissing:
        case Verb::Unrecognised: return kUsageExitCode;
    }
    return kUsageExitCode;
}

uint32_t HandleEscapedFailure(Verb selected, OptionMap& options) {
    const WideString& statePath = options.Get(L"--state");
    if (!statePath.empty() && !StateNamesProxySnapshot(selected)) {
        ReportStatus(statePath, "helper-exception", StatusFailure{"HELPER_ERROR", 0, 0});
    }
    const WideString& donePath = options.Get(L"--done");
    if (!donePath.empty()) WriteDoneMarker(donePath);
    return kUsageExitCode;
}

}  // namespace

Verb SelectVerb(const WideString& verb, OptionMap& options) {
    if (verb == L"--network-capabilities") return Verb::NetworkCapabilities;
    if (verb.starts_with(L"--proxy-")) return Verb::Proxy;
    if (verb == L"--guard") return Verb::Guard;
    if (AnyConnectionOptionMissing(options)) return Verb::RequiredOptionMissing;
    if (verb == L"--launch") return Verb::Launch;
    if (verb == L"--host") return Verb::Host;
    return Verb::Unrecognised;
}

uint32_t RunVerb(const WideString& verb, OptionMap& options) {
    const Verb selected = SelectVerb(verb, options);
    try {
        return RunSelected(selected, verb, options);
    } catch (...) {
        return HandleEscapedFailure(selected, options);
    }
}

uint32_t RunHelper(const wchar_t* commandLine) {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(commandLine, &count);
    if (arguments == nullptr) return kUsageExitCode;
    std::vector<WideString> afterProgram;
    for (int i = 1; i < count; ++i) afterProgram.emplace_back(arguments[i]);
    LocalFree(arguments);
    if (afterProgram.empty()) return kUsageExitCode;
    ParsedCommandLine parsed = ParseArguments(afterProgram);
    return RunVerb(parsed.verb, parsed.options);
}
