#include "proxy/proxy_settings.h"

#include <array>

#include "base/system_library.h"
#include "base/win32.h"
#include "base/win32_error.h"

#include <wininet.h>

namespace {

// WinINet is loaded from System32 at run time, never linked: these are its signatures.
using InternetQueryOptionFunction = BOOL WINAPI(HINTERNET, DWORD, LPVOID, LPDWORD);
using InternetSetOptionFunction = BOOL WINAPI(HINTERNET, DWORD, LPVOID, DWORD);

constexpr wchar_t kWinInet[] = L"wininet.dll";
constexpr wchar_t kInternetSettingsArea[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr UINT kBroadcastTimeoutMilliseconds = 1000;

using PerConnectionOptions = std::array<INTERNET_PER_CONN_OPTIONW, 4>;

PerConnectionOptions ZeroedOptions() {
    PerConnectionOptions options{};
    options[0].dwOption = INTERNET_PER_CONN_FLAGS;
    options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    options[2].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
    options[3].dwOption = INTERNET_PER_CONN_AUTOCONFIG_URL;
    return options;
}

// The default connection: a null connection name.
INTERNET_PER_CONN_OPTION_LISTW DefaultConnectionList(PerConnectionOptions& options) {
    INTERNET_PER_CONN_OPTION_LISTW list{};
    list.dwSize = sizeof(list);
    list.pszConnection = nullptr;
    list.dwOptionCount = static_cast<DWORD>(options.size());
    list.dwOptionError = 0;
    list.pOptions = options.data();
    return list;
}

// The strings WinINet allocated for the caller, freed with GlobalFree in list order
// however the copying ends.
class WinInetStrings {
public:
    explicit WinInetStrings(const PerConnectionOptions& options) : options_(options) {}
    WinInetStrings(const WinInetStrings&) = delete;
    WinInetStrings& operator=(const WinInetStrings&) = delete;
    ~WinInetStrings() {
        for (size_t i = 1; i < options_.size(); ++i) {
            if (options_[i].Value.pszValue != nullptr) GlobalFree(options_[i].Value.pszValue);
        }
    }
    WideString Copy(size_t index) const {
        const wchar_t* text = options_[index].Value.pszValue;
        return text == nullptr ? WideString() : WideString(text);
    }

private:
    const PerConnectionOptions& options_;
};

wchar_t* WritableText(const WideString& text) { return const_cast<wchar_t*>(text.c_str()); }

void NotifySettingsChanged(InternetSetOptionFunction* setOption) {
    for (DWORD option : {INTERNET_OPTION_PROXY_SETTINGS_CHANGED, INTERNET_OPTION_SETTINGS_CHANGED,
                         INTERNET_OPTION_REFRESH}) {
        setOption(nullptr, option, nullptr, 0);
    }
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(kInternetSettingsArea),
                        SMTO_ABORTIFHUNG, kBroadcastTimeoutMilliseconds, &ignored);
}

}  // namespace

ProxySettings QueryProxySettings() {
    auto* queryOption = LoadSystemFunction<InternetQueryOptionFunction>(kWinInet, "InternetQueryOptionW");
    PerConnectionOptions options = ZeroedOptions();
    INTERNET_PER_CONN_OPTION_LISTW list = DefaultConnectionList(options);
    DWORD length = sizeof(list);
    if (!queryOption(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &length)) {
        throw Win32Error{GetLastError()};
    }
    const WinInetStrings returned(options);
    return ProxySettings{options[0].Value.dwValue, returned.Copy(1), returned.Copy(2), returned.Copy(3)};
}

void ApplyProxySettings(const ProxySettings& settings) {
    auto* setOption = LoadSystemFunction<InternetSetOptionFunction>(kWinInet, "InternetSetOptionW");
    PerConnectionOptions options = ZeroedOptions();
    options[0].Value.dwValue = settings.flags;
    options[1].Value.pszValue = WritableText(settings.proxyServer);
    options[2].Value.pszValue = WritableText(settings.bypassList);
    options[3].Value.pszValue = WritableText(settings.autoConfigUrl);
    INTERNET_PER_CONN_OPTION_LISTW list = DefaultConnectionList(options);
    if (!setOption(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, sizeof(list))) {
        throw Win32Error{GetLastError()};
    }
    NotifySettingsChanged(setOption);
}
