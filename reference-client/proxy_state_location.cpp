#include "proxy_state_location.h"

#include "base/unique_resource.h"
#include "base/win32.h"

#include <shlobj.h>

namespace {

wchar_t* NoText() { return nullptr; }
void FreeTaskMemory(wchar_t* text) { CoTaskMemFree(text); }
// Text that the system allocated for the caller with CoTaskMemAlloc (a known folder's path).
using UniqueTaskMemoryText = UniqueResource<wchar_t*, FreeTaskMemory, NoText>;

}  // namespace

std::wstring DefaultProxyStatePath() {
    UniqueTaskMemoryText localAppData;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, localAppData.Put()))) return {};
    const std::wstring folder = std::wstring(localAppData.Get()) + L"\\KELDRIX";
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return {};
    return folder + L"\\proxy-state.bin";
}
