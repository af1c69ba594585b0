#include "base/system_library.h"

void RestrictDllSearchToSystem32() { SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32); }

FARPROC LoadSystemFunction(const wchar_t* library, const char* function) {
    const HMODULE module = LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) throw Win32Error{GetLastError()};
    const FARPROC address = GetProcAddress(module, function);
    if (address == nullptr) throw Win32Error{GetLastError()};
    return address;
}
