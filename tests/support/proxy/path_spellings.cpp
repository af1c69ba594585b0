#include "support/proxy/path_spellings.h"

#include <cwctype>

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

}  // namespace proxy_testing
