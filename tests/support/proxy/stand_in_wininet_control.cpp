#include "support/proxy/stand_in_wininet_control.h"

#include "base/process.h"
#include "support/helper_process.h"

namespace proxy_testing {

namespace {

using namespace testing_support;

constexpr wchar_t kOverridesKey[] = L"Software\\Wine\\DllOverrides";
constexpr const wchar_t* kControlVariables[] = {L"KELDRIX_STAND_IN_FAIL", L"KELDRIX_STAND_IN_HANG",
                                                L"KELDRIX_STAND_IN_FORCE_FLAGS", L"KELDRIX_STAND_IN_WATCH"};

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::wstring SystemWinInetPath() {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\wininet.dll";
}

}  // namespace

bool InstallStandInWinInet() {
    const std::wstring built = BuildDirectory() + L"\\tests\\stand-in\\wininet.dll";
    const std::string bytes = ReadFileBytes(built);
    if (bytes.empty()) return false;
    if (ReadFileBytes(SystemWinInetPath()) == bytes) return true;
    return CopyFileW(built.c_str(), SystemWinInetPath().c_str(), FALSE) != FALSE;
}

void SelectNativeWinInet(bool native) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kOverridesKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return;
    }
    if (native) {
        const std::wstring value = L"native";
        RegSetValueExW(key, L"wininet", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    } else {
        RegDeleteValueW(key, L"wininet");
    }
    RegCloseKey(key);
}

StandInWinInet::StandInWinInet() : settingsPath_(directory_ / L"settings"), logPath_(directory_ / L"calls.log") {
    SetEnvironmentVariableW(L"KELDRIX_STAND_IN_SETTINGS", settingsPath_.c_str());
    SetEnvironmentVariableW(L"KELDRIX_STAND_IN_LOG", logPath_.c_str());
    ClearControls();
    SelectNativeWinInet(true);
}

StandInWinInet::~StandInWinInet() {
    SelectNativeWinInet(false);
    ClearControls();
    SetEnvironmentVariableW(L"KELDRIX_STAND_IN_SETTINGS", nullptr);
    SetEnvironmentVariableW(L"KELDRIX_STAND_IN_LOG", nullptr);
}

void StandInWinInet::SetSettings(const StandInSettings& settings) {
    WriteFileBytes(settingsPath_, FormatStandInSettings(settings));
}

StandInSettings StandInWinInet::Settings() const { return ParseStandInSettings(ReadFileBytes(settingsPath_)); }

std::vector<std::string> StandInWinInet::Log() const {
    std::vector<std::string> lines;
    const std::string bytes = ReadFileBytes(logPath_);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        lines.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void StandInWinInet::ClearLog() { DeleteFileW(logPath_.c_str()); }

void StandInWinInet::FailCall(const std::string& selector, DWORD code) {
    SetEnvironmentVariableW(L"KELDRIX_STAND_IN_FAIL", Widen(selector + ":" + std::to_string(code)).c_str());
}

void StandInWinInet::HangIn(const std::string& selector) {
    SetEnvironmentVariableW(L"KELDRIX_STAND_IN_HANG", Widen(selector).c_str());
}

void StandInWinInet::ForceFlags(uint32_t bits) {
    SetEnvironmentVariableW(L"KELDRIX_STAND_IN_FORCE_FLAGS", std::to_wstring(bits).c_str());
}

void StandInWinInet::Watch(const std::wstring& path) {
    SetEnvironmentVariableW(L"KELDRIX_STAND_IN_WATCH", path.c_str());
}

void StandInWinInet::ClearControls() {
    for (const wchar_t* name : kControlVariables) SetEnvironmentVariableW(name, nullptr);
}

bool WaitForHang(const StandInWinInet& standIn, const std::string& call, DWORD timeoutMilliseconds) {
    const std::string hang = " -> hang";
    const ULONGLONG deadline = GetTickCount64() + timeoutMilliseconds;
    for (;;) {
        for (const std::string& line : standIn.Log()) {
            const bool named = line.rfind(call, 0) == 0 && (line.size() == call.size() || line[call.size()] == ' ');
            if (named && line.size() >= hang.size() && line.compare(line.size() - hang.size(), hang.size(), hang) == 0) {
                return true;
            }
        }
        if (GetTickCount64() > deadline) return false;
        Sleep(20);
    }
}

}  // namespace proxy_testing
