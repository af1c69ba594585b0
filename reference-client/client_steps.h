#pragma once

#include <string>

struct ClientSettings {
    int holdSeconds = 5;             // 0: until Ctrl+C
    std::wstring workDirectory;      // empty: a fresh folder under %TEMP%
    std::wstring interfaceName = L"lo";
    std::wstring coreConfigSource;   // empty: the stand-in core's default
    std::wstring helperPath;         // empty: KELDRIX-Network.exe beside this program
    std::wstring proxyStatePath;     // empty: %LOCALAPPDATA%\KELDRIX\proxy-state.bin
    bool resetProxy = false;         // put back every proxy any connection left, and connect nowhere
};

// One whole connection; returns 0 when every step succeeded, 1 otherwise.
int RunConnection(const ClientSettings& settings);

// What an uninstaller, or a "reset network settings" button, does: puts back every proxy that any
// connection of the user left switched, from the helper's record. Returns the helper's exit code.
int ResetProxy(const ClientSettings& settings);
