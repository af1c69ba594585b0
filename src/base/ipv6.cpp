#include "base/ipv6.h"

#include "base/win32.h"

bool IsIpv6Disabled() {
    DWORD value = 0;
    DWORD size = sizeof(value);
    const LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\Tcpip6\\Parameters",
                                        L"DisabledComponents", RRF_RT_REG_DWORD, nullptr, &value, &size);
    return status == ERROR_SUCCESS && DisabledComponentsDisableIpv6(value);
}
