#include "base/process.h"

#include <vector>

WideString GetExecutablePath() {
    constexpr DWORD bufferUnits = 32768;
    std::vector<wchar_t> buffer(bufferUnits, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), bufferUnits);
    return WideString(buffer.data(), length);
}

WideString ProcessImagePath(HANDLE process) {
    std::vector<wchar_t> buffer(32768, L'\0');
    DWORD length = static_cast<DWORD>(buffer.size());
    if (!QueryFullProcessImageNameW(process, 0, buffer.data(), &length)) return {};
    return WideString(buffer.data(), length);
}

WideString DirectoryOf(const WideString& path) {
    const size_t separator = path.find_last_of(L"\\/");
    return separator == WideString::npos ? path : path.substr(0, separator);
}

void RestrictDllSearchToSystem32() { SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32); }

FARPROC LoadSystemFunction(const wchar_t* library, const char* function) {
    const HMODULE module = LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) throw Win32Error{GetLastError()};
    const FARPROC address = GetProcAddress(module, function);
    if (address == nullptr) throw Win32Error{GetLastError()};
    return address;
}

void WriteStandardOutput(const ByteString& bytes) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

bool ReadCreationTime(HANDLE process, uint64_t& creationTime) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return false;
    creationTime = FileTimeCount(created);
    return true;
}

std::vector<unsigned char> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<unsigned char> information(size);
    if (size == 0 || !GetTokenInformation(token, kind, information.data(), size, &size)) information.clear();
    return information;
}
