// A test-only stand-in for WinINet, never shipped: it keeps the four per-connection options
// of the default connection faithfully (null and empty strings apart, every flag bit) in the
// file named by KELDRIX_STAND_IN_SETTINGS, and the flags twice, as INTERNET_PER_CONN_FLAGS and
// as INTERNET_PER_CONN_FLAGS_UI (the same unless the file says otherwise; setting either sets
// both), and appends every call it receives, in order, to
// the log named by KELDRIX_STAND_IN_LOG. Tests steer it through the environment the helper
// inherits:
//   KELDRIX_STAND_IN_FAIL=<call>:<code>  the call fails with that error, changing nothing
//   KELDRIX_STAND_IN_HANG=<call>         the call is logged, then never returns
//   KELDRIX_STAND_IN_FORCE_FLAGS=<bits>  these flag bits stay on, as a policy would keep them
//   KELDRIX_STAND_IN_WATCH=<path>        each log line shows that file's bytes at the call
// <call> is "query", "set" or "notify-<option>", optionally "#<n>" for its n-th occurrence
// in the process. Without the variables it reads as a fresh profile and keeps nothing.
#include <map>
#include <optional>

#include "base/win32.h"
#include "doubles/stand-in-wininet/stand_in_settings.h"

#include <wininet.h>

namespace {

constexpr wchar_t kLockName[] = L"Local\\KELDRIX-StandIn-WinINet";
constexpr DWORD kLockWaitMilliseconds = 60000;

WideString Environment(const wchar_t* name) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return {};
    WideString value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
    value.resize(length < size ? length : 0);
    return value;
}

ByteString Narrow(const WideString& text) {
    ByteString narrow;
    for (wchar_t unit : text) narrow.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    return narrow;
}

std::optional<ByteString> ReadFileBytes(const WideString& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    ByteString bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

void WriteFileBytes(const WideString& path, const ByteString& bytes, DWORD disposition, DWORD access) {
    const HANDLE file = CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

// Several helper processes may call at once: one named mutex serialises the files.
class StandInLock {
public:
    StandInLock() : mutex_(CreateMutexW(nullptr, FALSE, kLockName)) {
        if (mutex_ != nullptr) WaitForSingleObject(mutex_, kLockWaitMilliseconds);
    }
    StandInLock(const StandInLock&) = delete;
    StandInLock& operator=(const StandInLock&) = delete;
    ~StandInLock() {
        if (mutex_ == nullptr) return;
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
    }

private:
    HANDLE mutex_;
};

StandInSettings LoadSettings() {
    const WideString path = Environment(L"KELDRIX_STAND_IN_SETTINGS");
    if (path.empty()) return {};
    const std::optional<ByteString> bytes = ReadFileBytes(path);
    return bytes ? ParseStandInSettings(*bytes) : StandInSettings{};
}

// Replaced whole, as WinINet keeps the four options in one registry value: a helper killed
// in the middle of a call leaves the old settings or the new ones, never a torn file.
void StoreSettings(const StandInSettings& settings) {
    const WideString path = Environment(L"KELDRIX_STAND_IN_SETTINGS");
    if (path.empty()) return;
    const WideString fresh = path + L".new";
    WriteFileBytes(fresh, FormatStandInSettings(settings), CREATE_ALWAYS, GENERIC_WRITE);
    constexpr int kMoveAttempts = 50;
    for (int attempt = 0; attempt < kMoveAttempts; ++attempt) {
        if (MoveFileExW(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return;
        Sleep(10);
    }
}

uint32_t ForcedFlags() {
    const WideString text = Environment(L"KELDRIX_STAND_IN_FORCE_FLAGS");
    return static_cast<uint32_t>(wcstoul(text.c_str(), nullptr, 10));
}

ByteString WatchedFileState() {
    const WideString path = Environment(L"KELDRIX_STAND_IN_WATCH");
    if (path.empty()) return {};
    const std::optional<ByteString> bytes = ReadFileBytes(path);
    if (!bytes) return " watched=absent";
    ByteString hex = " watched=";
    constexpr char kDigits[] = "0123456789abcdef";
    for (unsigned char byte : *bytes) {
        hex.push_back(kDigits[byte >> 4]);
        hex.push_back(kDigits[byte & 0xF]);
    }
    return hex;
}

void AppendToLog(const ByteString& line) {
    const WideString path = Environment(L"KELDRIX_STAND_IN_LOG");
    if (!path.empty()) WriteFileBytes(path, line + "\n", OPEN_ALWAYS, FILE_APPEND_DATA);
}

// What the tests asked of this call: to hang in it, or to fail it with a code.
struct CallPlan {
    bool hang = false;
    DWORD failure = ERROR_SUCCESS;
};

bool SelectorMatches(const ByteString& selector, const ByteString& call, unsigned occurrence) {
    const size_t hash = selector.find('#');
    if (selector.substr(0, hash) != call) return false;
    return hash == ByteString::npos || std::strtoul(selector.c_str() + hash + 1, nullptr, 10) == occurrence;
}

CallPlan PlanCall(const ByteString& call) {
    static std::map<ByteString, unsigned> occurrences;
    const unsigned occurrence = ++occurrences[call];
    CallPlan plan;
    plan.hang = SelectorMatches(Narrow(Environment(L"KELDRIX_STAND_IN_HANG")), call, occurrence);
    const ByteString failure = Narrow(Environment(L"KELDRIX_STAND_IN_FAIL"));
    const size_t colon = failure.rfind(':');
    if (colon != ByteString::npos && SelectorMatches(failure.substr(0, colon), call, occurrence)) {
        plan.failure = static_cast<DWORD>(std::strtoul(failure.c_str() + colon + 1, nullptr, 10));
    }
    return plan;
}

ByteString DescribeText(const wchar_t* text) {
    if (text == nullptr) return "null";
    ByteString quoted = "\"";
    quoted += EscapeStandInText(text);
    quoted += '"';
    return quoted;
}

ByteString DescribeText(const std::optional<WideString>& text) {
    return text ? DescribeText(text->c_str()) : ByteString("null");
}

const char* OptionName(DWORD option) {
    switch (option) {
        case INTERNET_PER_CONN_FLAGS: return "flags";
        case INTERNET_PER_CONN_FLAGS_UI: return "flagsUi";
        case INTERNET_PER_CONN_PROXY_SERVER: return "proxyServer";
        case INTERNET_PER_CONN_PROXY_BYPASS: return "bypassList";
        case INTERNET_PER_CONN_AUTOCONFIG_URL: return "autoConfigUrl";
        default: return nullptr;
    }
}

std::optional<WideString>* TextField(StandInSettings& settings, DWORD option) {
    switch (option) {
        case INTERNET_PER_CONN_PROXY_SERVER: return &settings.proxyServer;
        case INTERNET_PER_CONN_PROXY_BYPASS: return &settings.bypassList;
        case INTERNET_PER_CONN_AUTOCONFIG_URL: return &settings.autoConfigUrl;
        default: return nullptr;
    }
}

// The list's shape as WinINet checks it; 0 when it is usable.
DWORD CheckList(const INTERNET_PER_CONN_OPTION_LISTW* list) {
    if (list == nullptr || list->dwSize != sizeof(*list)) return ERROR_INVALID_PARAMETER;
    if (list->dwOptionCount > 0 && list->pOptions == nullptr) return ERROR_INVALID_PARAMETER;
    for (DWORD i = 0; i < list->dwOptionCount; ++i) {
        if (OptionName(list->pOptions[i].dwOption) == nullptr) return ERROR_INVALID_PARAMETER;
    }
    return ERROR_SUCCESS;
}

LPWSTR GlobalCopy(const std::optional<WideString>& text) {
    if (!text) return nullptr;
    const SIZE_T bytes = (text->size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<LPWSTR>(GlobalAlloc(GMEM_FIXED, bytes));
    if (copy != nullptr) CopyMemory(copy, text->c_str(), bytes);
    return copy;
}

ByteString ConnectionNote(const INTERNET_PER_CONN_OPTION_LISTW* list) {
    if (list == nullptr || list->pszConnection == nullptr) return {};
    ByteString note = " connection=";
    note += DescribeText(list->pszConnection);
    return note;
}

// Fills the caller's list from the kept settings (a named connection reads as a fresh one).
DWORD AnswerQuery(INTERNET_PER_CONN_OPTION_LISTW* list, ByteString& description) {
    StandInSettings settings = list->pszConnection == nullptr ? LoadSettings() : StandInSettings{};
    settings.flags |= ForcedFlags();
    for (DWORD i = 0; i < list->dwOptionCount; ++i) {
        INTERNET_PER_CONN_OPTIONW& option = list->pOptions[i];
        description += ByteString(" ") + OptionName(option.dwOption) + "=";
        if (option.dwOption == INTERNET_PER_CONN_FLAGS || option.dwOption == INTERNET_PER_CONN_FLAGS_UI) {
            const bool asTheDialogShows = option.dwOption == INTERNET_PER_CONN_FLAGS_UI && settings.flagsUi;
            const uint32_t flags = asTheDialogShows ? *settings.flagsUi | ForcedFlags() : settings.flags;
            option.Value.dwValue = flags;
            description += std::to_string(flags);
            continue;
        }
        const std::optional<WideString>& text = *TextField(settings, option.dwOption);
        option.Value.pszValue = GlobalCopy(text);
        if (text && option.Value.pszValue == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
        description += DescribeText(text);
    }
    return ERROR_SUCCESS;
}

ByteString DescribeSetList(const INTERNET_PER_CONN_OPTION_LISTW* list) {
    ByteString description;
    for (DWORD i = 0; i < list->dwOptionCount; ++i) {
        const INTERNET_PER_CONN_OPTIONW& option = list->pOptions[i];
        description += ByteString(" ") + OptionName(option.dwOption) + "=";
        const bool flags = option.dwOption == INTERNET_PER_CONN_FLAGS || option.dwOption == INTERNET_PER_CONN_FLAGS_UI;
        description += flags ? std::to_string(option.Value.dwValue) : DescribeText(option.Value.pszValue);
    }
    return description;
}

void StoreList(const INTERNET_PER_CONN_OPTION_LISTW* list) {
    if (list->pszConnection != nullptr) return;
    StandInSettings settings = LoadSettings();
    for (DWORD i = 0; i < list->dwOptionCount; ++i) {
        const INTERNET_PER_CONN_OPTIONW& option = list->pOptions[i];
        if (option.dwOption == INTERNET_PER_CONN_FLAGS || option.dwOption == INTERNET_PER_CONN_FLAGS_UI) {
            settings.flags = option.Value.dwValue | ForcedFlags();
            settings.flagsUi = std::nullopt;
            continue;
        }
        std::optional<WideString>& field = *TextField(settings, option.dwOption);
        if (option.Value.pszValue == nullptr) field = std::nullopt;
        else field = WideString(option.Value.pszValue);
    }
    StoreSettings(settings);
}

// Logs the call with its outcome, then hangs or returns as planned.
BOOL Finish(const CallPlan& plan, const ByteString& line, DWORD error) {
    ByteString outcome;
    if (plan.hang) outcome = " -> hang";
    else if (error != ERROR_SUCCESS) outcome = " -> error " + std::to_string(error);
    ByteString entry = line;
    entry += WatchedFileState();
    entry += outcome;
    AppendToLog(entry);
    return error == ERROR_SUCCESS;
}

BOOL Return(const CallPlan& plan, BOOL succeeded, DWORD error) {
    if (plan.hang) Sleep(INFINITE);
    if (!succeeded) SetLastError(error);
    return succeeded;
}

}  // namespace

extern "C" BOOL WINAPI StandInInternetQueryOptionW(HINTERNET internet, DWORD option, LPVOID buffer, LPDWORD length) {
    if (option != INTERNET_OPTION_PER_CONNECTION_OPTION || internet != nullptr) {
        SetLastError(ERROR_INTERNET_INVALID_OPTION);
        return FALSE;
    }
    const CallPlan plan = PlanCall("query");
    auto* list = static_cast<INTERNET_PER_CONN_OPTION_LISTW*>(buffer);
    BOOL succeeded = FALSE;
    DWORD error = plan.failure;
    {
        const StandInLock lock;
        ByteString description = ConnectionNote(list);
        if (error == ERROR_SUCCESS && length == nullptr) error = ERROR_INVALID_PARAMETER;
        if (error == ERROR_SUCCESS && *length < sizeof(INTERNET_PER_CONN_OPTION_LISTW)) {
            *length = sizeof(INTERNET_PER_CONN_OPTION_LISTW);
            error = ERROR_INSUFFICIENT_BUFFER;
        }
        if (error == ERROR_SUCCESS) error = CheckList(list);
        if (error == ERROR_SUCCESS && !plan.hang) error = AnswerQuery(list, description);
        succeeded = Finish(plan, "query" + description, error);
    }
    return Return(plan, succeeded, error);
}

extern "C" BOOL WINAPI StandInInternetSetOptionW(HINTERNET internet, DWORD option, LPVOID buffer, DWORD length) {
    const bool perConnection = option == INTERNET_OPTION_PER_CONNECTION_OPTION;
    ByteString call = "set";
    if (!perConnection) call = "notify-" + std::to_string(option);
    const CallPlan plan = PlanCall(call);
    auto* list = static_cast<INTERNET_PER_CONN_OPTION_LISTW*>(buffer);
    BOOL succeeded = FALSE;
    DWORD error = plan.failure;
    {
        const StandInLock lock;
        ByteString description;
        if (internet != nullptr) description += " with-handle";
        if (perConnection) {
            const DWORD shape = length < sizeof(*list) ? ERROR_INVALID_PARAMETER : CheckList(list);
            if (shape == ERROR_SUCCESS) description += ConnectionNote(list) + DescribeSetList(list);
            if (error == ERROR_SUCCESS) error = shape;
            if (error == ERROR_SUCCESS && !plan.hang) StoreList(list);
        } else if (buffer != nullptr || length != 0) {
            description += " with-buffer";
        }
        succeeded = Finish(plan, call + description, error);
    }
    return Return(plan, succeeded, error);
}
