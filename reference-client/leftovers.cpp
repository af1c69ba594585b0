#include "leftovers.h"

#include <cstdio>
#include <functional>

#include "base/system_info.h"
#include "base/text.h"
#include "base/unique_resource.h"
#include "base/win32.h"
#include "helper_runner.h"

#include <shlobj.h>  // after <windows.h>

namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool RemovePath(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return RemoveDirectoryW(path.c_str()) != FALSE;
    return DeleteFileW(path.c_str()) != FALSE;
}

std::wstring LowerCase(std::wstring text) {
    CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

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

UniqueHandleNull ClaimProxyStatePath(const std::wstring& proxyStatePath) {
    const std::wstring name =
        L"Local\\KELDRIX-Reference-Client-" + FormatUnsigned(std::hash<std::wstring>{}(LowerCase(proxyStatePath)));
    UniqueHandleNull mutex(CreateMutexW(nullptr, TRUE, name.c_str()));
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) mutex.Reset();
    if (!mutex) {
        std::printf("[client] another client is connected with this proxy state file; one connection at a time\n");
    }
    return mutex;
}

bool RestoreLeftOverProxy(const std::wstring& helperPath, const std::wstring& proxyStatePath) {
    const bool leftOver = Exists(proxyStatePath);
    if (leftOver) {
        std::printf("[client] the proxy state file of a connection that never ended is still there: %s\n",
                    ToUtf8(proxyStatePath).c_str());
        std::printf("[client] the system proxy may still point at that connection's local port; putting it back first\n");
    } else {
        // The file may have been lost with that connection's proxy still on: the helper's record
        // of live snapshots still knows what to put back.
        std::printf("[client] putting back whatever a connection with this proxy state file left\n");
    }
    const HelperRun restore = RunHelperAndShow(helperPath, {L"--proxy-restore", L"--state", proxyStatePath});
    if (restore.exitCode == 0 && !Exists(proxyStatePath)) {
        if (leftOver) std::printf("[client] the user's proxy settings are back\n");
        return true;
    }
    std::printf("[client] the proxy state file stays (see the output above), so no connection can start over it\n");
    return false;
}

bool RemoveStaleConnectionFiles(const std::vector<std::pair<std::string, std::wstring>>& namedPaths) {
    for (const auto& [name, path] : namedPaths) {
        if (!Exists(path)) continue;
        if (!RemovePath(path)) {
            const DWORD error = GetLastError();
            std::printf("[client] cannot remove the %s an earlier connection left, %s: %s\n", name.c_str(),
                        ToUtf8(path).c_str(), SystemMessageLine(error).c_str());
            return false;
        }
        std::printf("[client] removed the %s an earlier connection left: %s\n", name.c_str(), ToUtf8(path).c_str());
    }
    return true;
}
