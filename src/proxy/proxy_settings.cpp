#include "proxy/proxy_settings.h"

#include <array>

#include "base/process.h"
#include "base/unique_resource.h"
#include "base/win32.h"

#include <wininet.h>

namespace {

// WinINet is loaded from System32 at run time, never linked: these are its signatures.
using InternetQueryOptionFunction = BOOL WINAPI(HINTERNET, DWORD, LPVOID, LPDWORD);
using InternetSetOptionFunction = BOOL WINAPI(HINTERNET, DWORD, LPVOID, DWORD);

constexpr wchar_t kWinInet[] = L"wininet.dll";
constexpr wchar_t kInternetSettingsArea[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr UINT kBroadcastTimeoutMilliseconds = 1000;

using PerConnectionOptions = std::array<INTERNET_PER_CONN_OPTIONW, 4>;

PerConnectionOptions ZeroedOptions(DWORD flagsOption = INTERNET_PER_CONN_FLAGS) {
    PerConnectionOptions options{};
    options[0].dwOption = flagsOption;
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

wchar_t* NullText() { return nullptr; }
void FreeGlobalText(wchar_t* text) { GlobalFree(text); }
// A string that WinINet allocated for the caller, freed with GlobalFree however the copying ends.
using UniqueGlobalText = UniqueResource<wchar_t*, FreeGlobalText, NullText>;

// An unset option comes back as a null pointer and reads as empty.
WideString TextOf(const UniqueGlobalText& text) { return text ? WideString(text.Get()) : WideString(); }

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

bool QueryInto(InternetQueryOptionFunction* queryOption, PerConnectionOptions& options) {
    INTERNET_PER_CONN_OPTION_LISTW list = DefaultConnectionList(options);
    DWORD length = sizeof(list);
    return queryOption(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &length) != FALSE;
}

}  // namespace

ProxySettings QueryProxySettings() {
    auto* queryOption = LoadSystemFunction<InternetQueryOptionFunction>(kWinInet, "InternetQueryOptionW");
    // The flags as the settings dialog shows them: the plain flags may leave out auto-detect
    // while its checkbox is on. WinINet before Windows 7 knows no such option.
    PerConnectionOptions options = ZeroedOptions(INTERNET_PER_CONN_FLAGS_UI);
    if (!QueryInto(queryOption, options)) {
        options = ZeroedOptions(INTERNET_PER_CONN_FLAGS);
        if (!QueryInto(queryOption, options)) throw Win32Error{GetLastError()};
    }
    const UniqueGlobalText proxyServer(options[1].Value.pszValue);
    const UniqueGlobalText bypassList(options[2].Value.pszValue);
    const UniqueGlobalText autoConfigUrl(options[3].Value.pszValue);
    return ProxySettings{options[0].Value.dwValue, TextOf(proxyServer), TextOf(bypassList), TextOf(autoConfigUrl)};
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
