#include "proxy/proxy_logon_restore.h"

#include <algorithm>
#include <vector>

#include "base/command_line.h"
#include "base/process.h"
#include "base/unique_resource.h"
#include "base/win32.h"

#include <shellapi.h>

namespace {

void FreeArguments(wchar_t** arguments) { LocalFree(arguments); }
wchar_t** NoArguments() { return nullptr; }
using UniqueArguments = UniqueResource<wchar_t**, FreeArguments, NoArguments>;

UniqueRegistryKey OpenRunOnce(REGSAM access) {
    UniqueRegistryKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunOnceKey, 0, access, key.Put()) != ERROR_SUCCESS) key.Reset();
    return key;
}

void RemoveValue(const WideString& name) {
    const UniqueRegistryKey key = OpenRunOnce(KEY_SET_VALUE);
    if (key) RegDeleteValueW(key.Get(), name.c_str());
}

// A REG_SZ value's text, or none.
std::optional<WideString> ReadText(HKEY key, const WideString& name) {
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS || type != REG_SZ) {
        return std::nullopt;
    }
    std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &bytes) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return WideString(text.data());
}

std::vector<WideString> LogonRestoreValueNames(HKEY key) {
    std::vector<WideString> names;
    const WideString prefix = kLogonRestoreValuePrefix;
    wchar_t name[16384];
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(std::size(name));
        const LSTATUS status = RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) break;
        if (WideString(name, length).starts_with(prefix)) names.emplace_back(name, length);
    }
    return names;
}

}  // namespace

WideString LogonRestoreValueName(const SnapshotId& id) { return kLogonRestoreValuePrefix + FormatSnapshotId(id); }

WideString LogonRestoreCommand(const WideString& helperPath, const SnapshotId& id) {
    return QuoteArgument(helperPath) + L" --proxy-restore --snapshot-id " + FormatSnapshotId(id);
}

std::optional<WideString> StatePathOfCommand(const WideString& command) {
    int count = 0;
    const UniqueArguments arguments(CommandLineToArgvW(command.c_str(), &count));
    if (!arguments || count < 2) return std::nullopt;
    const ParsedCommandLine parsed =
        ParseArguments(std::vector<WideString>(arguments.Get() + 1, arguments.Get() + count));
    const WideString& statePath = parsed.options.Get(L"--state");
    if (parsed.verb != L"--proxy-restore" || statePath.empty()) return std::nullopt;
    return statePath;
}

bool RegisterLogonRestore(const SnapshotId& id) {
    const WideString helper = GetExecutablePath();
    const WideString command = LogonRestoreCommand(helper, id);
    if (helper.empty() || command.size() > kMaxRunOnceCommandUnits) return false;
    UniqueRegistryKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunOnceKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Put(), nullptr) !=
        ERROR_SUCCESS) {
        key.Reset();
        return false;
    }
    const WideString name = LogonRestoreValueName(id);
    return RegSetValueExW(key.Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                          static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

void RemoveLogonRestore(const SnapshotId& id) { RemoveValue(LogonRestoreValueName(id)); }

void RemoveLogonRestoresOtherThan(const std::vector<SnapshotId>& live) {
    const UniqueRegistryKey key = OpenRunOnce(KEY_QUERY_VALUE);
    if (!key) return;
    const size_t prefix = WideString(kLogonRestoreValuePrefix).size();
    for (const WideString& name : LogonRestoreValueNames(key.Get())) {
        const std::optional<SnapshotId> id = ParseSnapshotId(name.substr(prefix));
        if (id && std::find(live.begin(), live.end(), *id) == live.end()) RemoveValue(name);
    }
}

std::vector<EarlierLogonRestore> EarlierLogonRestores() {
    std::vector<EarlierLogonRestore> values;
    const UniqueRegistryKey key = OpenRunOnce(KEY_QUERY_VALUE);
    if (!key) return values;
    for (const WideString& name : LogonRestoreValueNames(key.Get())) {
        const std::optional<WideString> command = ReadText(key.Get(), name);
        const std::optional<WideString> statePath = command ? StatePathOfCommand(*command) : std::nullopt;
        if (statePath) values.push_back({name, *statePath});
    }
    return values;
}

void RemoveEarlierLogonRestore(const EarlierLogonRestore& value) { RemoveValue(value.valueName); }
