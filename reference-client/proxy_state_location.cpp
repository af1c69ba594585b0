#include "proxy_state_location.h"

#include "base/win32.h"

#include <shlobj.h>

std::wstring DefaultProxyStatePath() {
    wchar_t* localAppData = nullptr;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &localAppData))) {
        CoTaskMemFree(localAppData);
        return {};
    }
    const std::wstring folder = std::wstring(localAppData) + L"\\KELDRIX";
    CoTaskMemFree(localAppData);
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return {};
    return folder + L"\\proxy-state.bin";
}
