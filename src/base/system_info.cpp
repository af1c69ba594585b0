#include "base/system_info.h"

#include "base/win32.h"

namespace {

constexpr DWORD kMessageBufferUnits = 1024;

}  // namespace

bool IsIpv6Disabled() {
    DWORD value = 0;
    DWORD size = sizeof(value);
    const LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\Tcpip6\\Parameters",
                                        L"DisabledComponents", RRF_RT_REG_DWORD, nullptr, &value, &size);
    return status == ERROR_SUCCESS && DisabledComponentsDisableIpv6(value);
}

WideString SystemMessageText(uint32_t code, uint32_t language) {
    wchar_t buffer[kMessageBufferUnits] = {};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                        language, buffer, kMessageBufferUnits, nullptr);
    return WideString(buffer, length);
}

WideString WithoutTrailingLineEnd(const WideString& message) {
    const size_t kept = message.find_last_not_of(L"\r\n ");
    return kept == WideString::npos ? WideString() : message.substr(0, kept + 1);
}

ByteString SystemMessageLine(uint32_t code) { return ToUtf8(WithoutTrailingLineEnd(SystemMessageText(code))); }
