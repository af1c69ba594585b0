#include "base/local_path.h"

#include <array>
#include <string_view>
#include <vector>

#include "base/win32.h"

namespace {

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }
bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool EqualsIgnoringCase(std::wstring_view text, std::wstring_view upper) {
    if (text.size() != upper.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (Upper(text[i]) != upper[i]) return false;
    }
    return true;
}

// "COM0" and "LPT0" to "COM9" and "LPT9", with the superscript digits one to three that Windows
// counts as well.
bool IsNumberedDevice(std::wstring_view name) {
    if (name.size() != 4) return false;
    const std::wstring_view prefix = name.substr(0, 3);
    if (!EqualsIgnoringCase(prefix, L"COM") && !EqualsIgnoringCase(prefix, L"LPT")) return false;
    const wchar_t digit = name[3];
    return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3';
}

// What Windows opens as a device in any folder: the name before the first dot, without the
// blanks that end it, is a device's, whatever follows.
bool IsDeviceName(std::wstring_view component) {
    std::wstring_view name = component.substr(0, component.find(L'.'));
    while (!name.empty() && name.back() == L' ') name.remove_suffix(1);
    constexpr std::array<std::wstring_view, 6> kDevices = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const std::wstring_view device : kDevices) {
        if (EqualsIgnoringCase(name, device)) return true;
    }
    return IsNumberedDevice(name);
}

bool IsPlainComponent(std::wstring_view component) {
    return component.find(L':') == std::wstring_view::npos && component.find(L'\0') == std::wstring_view::npos &&
           !IsDeviceName(component);
}

}  // namespace

bool IsLocalDrivePath(const WideString& path) {
    std::wstring_view rest = path;
    constexpr std::wstring_view kVerbatim = L"\\\\?\\";
    const bool verbatim = rest.starts_with(kVerbatim);
    if (verbatim) rest.remove_prefix(kVerbatim.size());
    // The verbatim form is passed to the system as it is: "/" is no separator there.
    if (rest.size() < 4 || !IsDriveLetter(rest[0]) || rest[1] != L':') return false;
    if (verbatim ? rest[2] != L'\\' : !IsSeparator(rest[2])) return false;
    rest.remove_prefix(3);
    bool namesSomething = false;
    while (!rest.empty()) {
        const size_t end = verbatim ? rest.find(L'\\') : rest.find_first_of(L"\\/");
        const std::wstring_view component = rest.substr(0, end);
        if (!IsPlainComponent(component)) return false;
        namesSomething = namesSomething || !component.empty();
        rest.remove_prefix(end == std::wstring_view::npos ? rest.size() : end + 1);
    }
    return namesSomething;
}

WideString FullPath(const WideString& path) {
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return {};
    std::vector<wchar_t> buffer(needed);
    const DWORD length = GetFullPathNameW(path.c_str(), needed, buffer.data(), nullptr);
    return length == 0 || length >= needed ? WideString() : WideString(buffer.data(), length);
}

bool NamesOnlyLocalFiles(const OptionMap& options) {
    for (const wchar_t* name : kClientPathOptions) {
        const WideString& value = options.Get(name);
        if (!value.empty() && !IsLocalDrivePath(value)) return false;
    }
    return true;
}
