// A reference client: drives one whole connection through the KELDRIX Network Helper the
// way a tunnel client's user interface should, and prints what it sees. Read RunConnection
// (client_steps.cpp) top to bottom: claim the proxy state file, clear what an unfinished
// connection left, write the core's configuration, launch, wait for "ready", switch the proxy
// on, start the guard, hold, disconnect, put the proxy back, summarise.
#include <cstdio>
#include <string>
#include <vector>

#include "base/win32.h"
#include "client_steps.h"

namespace {

void PrintUsage() {
    std::printf(
        "usage: keldrix-reference-client [--seconds N] [--work DIR] [--interface NAME]\n"
        "                                [--core-config FILE] [--helper PATH] [--proxy-state FILE]\n"
        "       keldrix-reference-client --reset-proxy all [--helper PATH]\n"
        "Runs one connection through KELDRIX-Network.exe: launch the host, wait for \"ready\",\n"
        "switch the system proxy on, start the guard, hold the connection for N seconds (default 5;\n"
        "0 holds until Ctrl+C), then disconnect and put the proxy back.\n"
        "Without --core-config it writes a configuration for the stand-in core that comes up at once.\n"
        "The proxy state file (default %%LOCALAPPDATA%%\\KELDRIX\\proxy-state.bin) keeps one path from run to\n"
        "run: if a connection never ended (power loss, log-off), the next run finds it and puts the\n"
        "user's proxy back before it connects.\n"
        "--reset-proxy all connects nowhere: it puts back every proxy that any connection of the user\n"
        "left switched, as an uninstaller or a \"reset network settings\" button would.\n");
}

bool ParseSettings(int argc, wchar_t** argv, ClientSettings& settings) {
    for (int i = 1; i < argc; i += 2) {
        const std::wstring name = argv[i];
        if (i + 1 >= argc) return false;
        const std::wstring value = argv[i + 1];
        if (name == L"--seconds") settings.holdSeconds = _wtoi(value.c_str());
        else if (name == L"--work") settings.workDirectory = value;
        else if (name == L"--interface") settings.interfaceName = value;
        else if (name == L"--core-config") settings.coreConfigSource = value;
        else if (name == L"--helper") settings.helperPath = value;
        else if (name == L"--proxy-state") settings.proxyStatePath = value;
        else if (name == L"--reset-proxy" && value == L"all") settings.resetProxy = true;
        else return false;
    }
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    ClientSettings settings;
    if (!ParseSettings(argc, argv, settings)) {
        PrintUsage();
        return 2;
    }
    return settings.resetProxy ? ResetProxy(settings) : RunConnection(settings);
}
