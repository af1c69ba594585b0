// Runs helpers against the WinINet stand-in: installs it as the prefix's system32\wininet.dll,
// selects it with the registry override while the object lives, and steers it through the
// environment that helpers started by this process inherit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/win32.h"
#include "doubles/stand-in-wininet/stand_in_settings.h"
#include "support/temp_directory.h"

namespace proxy_testing {

// Copies the built stand-in over system32\wininet.dll unless it is there already.
// Without the override it stays dormant: Wine keeps loading its own WinINet.
bool InstallStandInWinInet();

// Sets or removes HKCU\Software\Wine\DllOverrides "wininet"; read at each process start.
void SelectNativeWinInet(bool native);

class StandInWinInet {
public:
    StandInWinInet();
    StandInWinInet(const StandInWinInet&) = delete;
    StandInWinInet& operator=(const StandInWinInet&) = delete;
    ~StandInWinInet();

    void SetSettings(const StandInSettings& settings);
    StandInSettings Settings() const;

    // Every call the helpers made since the last ClearLog, one line each, in order.
    std::vector<std::string> Log() const;
    void ClearLog();

    void FailCall(const std::string& selector, DWORD code);
    void HangIn(const std::string& selector);
    void ForceFlags(uint32_t bits);
    void Watch(const std::wstring& path);
    // Back to plain behaviour: no failure, hang, forced flags or watched file.
    void ClearControls();

private:
    testing_support::TemporaryDirectory directory_;
    std::wstring settingsPath_;
    std::wstring logPath_;
};

// Waits until the log shows a call of this name (e.g. "set", "query") hanging as told;
// false after the time-out.
bool WaitForHang(const StandInWinInet& standIn, const std::string& call, DWORD timeoutMilliseconds);

}  // namespace proxy_testing
