#pragma once

#include <string>

struct ClientSettings {
    int holdSeconds = 5;             // 0: until Ctrl+C
    std::wstring workDirectory;      // empty: a fresh folder under %TEMP%
    std::wstring interfaceName = L"lo";
    std::wstring coreConfigSource;   // empty: the stand-in core's default
    std::wstring helperPath;         // empty: KELDRIX-Network.exe beside this program
    std::wstring proxyStatePath;     // empty: %LOCALAPPDATA%\KELDRIX\proxy-state.bin
};

// One whole connection; returns 0 when every step succeeded, 1 otherwise.
int RunConnection(const ClientSettings& settings);
