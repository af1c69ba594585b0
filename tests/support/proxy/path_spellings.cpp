#include "support/proxy/path_spellings.h"

#include <cwctype>

#include "base/win32.h"

namespace proxy_testing {

std::vector<std::wstring> SpellingsOf(const std::wstring& path) {
    std::wstring upper = path, lower = path, slashes = path;
    for (wchar_t& unit : upper) unit = static_cast<wchar_t>(std::towupper(unit));
    for (wchar_t& unit : lower) unit = static_cast<wchar_t>(std::towlower(unit));
    for (wchar_t& unit : slashes) unit = unit == L'\\' ? L'/' : unit;
    const size_t name = path.find_last_of(L'\\') + 1;
    const size_t folderName = path.find_last_of(L'\\', name - 2) + 1;
    const std::wstring folder = path.substr(folderName, name - 1 - folderName);
    return {path,
            upper,
            lower,
            slashes,
            L"\\\\?\\" + path,
            path.substr(0, name) + L".\\" + path.substr(name),
            path.substr(0, name) + L"..\\" + folder + L"\\" + path.substr(name)};
}

std::wstring MakeLongFolder(const std::wstring& parent, size_t units) {
    std::wstring folder = parent;
    for (int level = 1; folder.size() < units; ++level) {
        folder += L"\\a folder of a long path, level " + std::to_wstring(level);
        if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return {};
    }
    return folder;
}

}  // namespace proxy_testing
