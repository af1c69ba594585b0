#include "base/executable_path.h"

#include <vector>

#include "base/win32.h"

WideString GetExecutablePath() {
    constexpr DWORD bufferUnits = 32768;
    std::vector<wchar_t> buffer(bufferUnits, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), bufferUnits);
    return WideString(buffer.data(), length);
}

WideString DirectoryOf(const WideString& path) {
    const size_t separator = path.find_last_of(L"\\/");
    return separator == WideString::npos ? path : path.substr(0, separator);
}

WideString GetHelperDirectory() { return DirectoryOf(GetExecutablePath()); }
