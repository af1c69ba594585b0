#include "support/proxy/logon_restores.h"

#include <vector>

#include "base/win32.h"

namespace proxy_testing {

namespace {

constexpr wchar_t kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr wchar_t kValuePrefix[] = L"KELDRIX-Proxy-";

HKEY OpenRunOnce(REGSAM access) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunOnceKey, 0, nullptr, 0, access, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

void DeleteValue(const std::wstring& name) {
    const HKEY key = OpenRunOnce(KEY_SET_VALUE);
    if (key == nullptr) return;
    RegDeleteValueW(key, name.c_str());
    RegCloseKey(key);
}

}  // namespace

std::map<std::wstring, std::wstring> RegisteredLogonRestores() {
    std::map<std::wstring, std::wstring> values;
    const HKEY key = OpenRunOnce(KEY_QUERY_VALUE);
    if (key == nullptr) return values;
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD nameLength = 16384;
        std::vector<wchar_t> data(32768, L'\0');
        DWORD dataBytes = static_cast<DWORD>((data.size() - 1) * sizeof(wchar_t));
        DWORD type = 0;
        if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                          &dataBytes) != ERROR_SUCCESS) {
            break;
        }
        const std::wstring valueName(name, nameLength);
        if (valueName.rfind(kValuePrefix, 0) == 0) values[valueName] = data.data();
    }
    RegCloseKey(key);
    return values;
}

void RemoveRegisteredLogonRestores() {
    for (const auto& [name, command] : RegisteredLogonRestores()) DeleteValue(name);
}

void RemoveSnapshotRecord() { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\KELDRIX\\Network Helper"); }

testing_support::ProcessResult RunLogonRestore(const std::wstring& valueName, const std::wstring& command) {
    DeleteValue(valueName);
    const size_t programEnd = command.size() > 1 && command[0] == L'"' ? command.find(L'"', 1) : std::wstring::npos;
    if (programEnd == std::wstring::npos) return {STILL_ACTIVE, "unquoted program: not a logon restore", false};
    const std::wstring program = command.substr(1, programEnd - 1);
    const size_t tail = command.find_first_not_of(L' ', programEnd + 1);
    return testing_support::RunProgramRaw(program, tail == std::wstring::npos ? L"" : command.substr(tail));
}

}  // namespace proxy_testing
