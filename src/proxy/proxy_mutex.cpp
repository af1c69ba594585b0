#include "proxy/proxy_mutex.h"

#include <cstring>
#include <optional>

#include "base/command_line.h"
#include "base/file_by_handle.h"
#include "base/local_path.h"
#include "base/unique_resource.h"
#include "base/win32.h"

namespace {

constexpr uint64_t kPathHashStart = 0x14650fb0739d0383ull;
constexpr uint64_t kPathHashPrime = 0x100000001b3ull;

WideString FileNameOf(const WideString& fullPath) { return fullPath.substr(fullPath.find_last_of(L"\\/") + 1); }

// The long name of an existing entry; a short (8.3) spelling of it names the same file.
WideString LongNameOf(const WideString& fullPath, const WideString& name) {
    if (name.find_first_of(L"*?") != WideString::npos) return name;
    WIN32_FIND_DATAW entry{};
    const UniqueFindHandle search(FindFirstFileW(fullPath.c_str(), &entry));
    return search ? WideString(entry.cFileName) : name;
}

// The folder's volume serial number and id, in decimal; empty when the folder cannot be opened.
WideString FolderIdentityText(const WideString& fullPath) {
    const UniqueHandleFile folder = OpenFolderOf(fullPath);
    if (!folder) return {};
    FILE_ID_INFO wide{};
    if (GetFileInformationByHandleEx(folder.Get(), FileIdInfo, &wide, sizeof(wide))) {
        uint64_t halves[2] = {};
        std::memcpy(halves, wide.FileId.Identifier, sizeof(halves));
        return FormatUnsigned(wide.VolumeSerialNumber) + L"-" + FormatUnsigned(halves[1]) + L"." +
               FormatUnsigned(halves[0]);
    }
    const std::optional<FileIdentity> identity = IdentityOf(folder.Get());
    if (!identity) return {};
    return FormatUnsigned(identity->volumeSerial) + L"-" + FormatUnsigned(identity->fileIndex);
}

ProxyMutexLock AcquireNamedMutex(const WideString& name) {
    UniqueHandleNull mutex(CreateMutexExW(nullptr, name.c_str(), 0, SYNCHRONIZE | MUTEX_MODIFY_STATE));
    if (!mutex) throw Win32Error{GetLastError()};
    const DWORD waited = WaitForSingleObject(mutex.Get(), kProxyMutexWaitMilliseconds);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) throw Win32Error{ERROR_TIMEOUT};
    return ProxyMutexLock(mutex.Release());
}

}  // namespace

uint64_t HashProxyStatePath(const WideString& path) {
    uint64_t hash = kPathHashStart;
    for (wchar_t unit : path) hash = (hash ^ static_cast<uint16_t>(unit)) * kPathHashPrime;
    return hash;
}

WideString CaseFoldedPath(const WideString& path) {
    if (path.empty()) return path;
    WideString folded(path.size(), L'\0');
    const int length = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, path.c_str(),
                                     static_cast<int>(path.size()), folded.data(), static_cast<int>(folded.size()),
                                     nullptr, nullptr, 0);
    return length == static_cast<int>(path.size()) ? folded : path;
}

WideString ResolvedProxyStatePath(const WideString& path) {
    const WideString full = FullPath(path);
    if (full.empty()) return path;
    const size_t separator = full.find_last_of(L"\\/");
    const WideString folder = FinalFolderPath(full);
    if (folder.empty() || separator == WideString::npos || separator + 1 == full.size()) return full;
    return folder + L"\\" + LongNameOf(full, full.substr(separator + 1));
}

WideString ProxyStateFileKey(const WideString& path) {
    const WideString full = FullPath(path);
    if (full.empty()) return path;
    const WideString name = FileNameOf(full);
    const WideString folder = name.empty() ? WideString() : FolderIdentityText(full);
    if (folder.empty()) return CaseFoldedPath(full);
    return folder + L"\\" + CaseFoldedPath(LongNameOf(full, name));
}

WideString ProxyMutexName(const WideString& path) {
    return L"Local\\KELDRIX-Proxy-" + FormatUnsigned(HashProxyStatePath(ProxyStateFileKey(path)));
}

ProxyMutexLock AcquireProxyMutex(const WideString& path) { return AcquireNamedMutex(ProxyMutexName(path)); }

ProxyMutexLock AcquireProxySettingsLock() { return AcquireNamedMutex(kProxySettingsMutexName); }
