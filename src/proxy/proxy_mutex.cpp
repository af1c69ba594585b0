#include "proxy/proxy_mutex.h"

#include "base/command_line.h"
#include "base/file_by_handle.h"
#include "base/local_path.h"
#include "base/unique_resource.h"
#include "base/win32.h"

namespace {

constexpr uint64_t kPathHashStart = 0x14650fb0739d0383ull;
constexpr uint64_t kPathHashPrime = 0x100000001b3ull;

// The long name of an existing entry; a short (8.3) spelling of it names the same file.
WideString LongNameOf(const WideString& fullPath, const WideString& name) {
    if (name.find_first_of(L"*?") != WideString::npos) return name;
    WIN32_FIND_DATAW entry{};
    const UniqueFindHandle search(FindFirstFileW(fullPath.c_str(), &entry));
    return search ? WideString(entry.cFileName) : name;
}

ProxyMutexLock AcquireNamedMutex(const WideString& name) {
    UniqueHandleNull mutex(CreateMutexW(nullptr, FALSE, name.c_str()));
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

uint64_t ProxyStatePathHash(const WideString& path) {
    return HashProxyStatePath(CaseFoldedPath(ResolvedProxyStatePath(path)));
}

WideString ProxyMutexName(const WideString& path) {
    return L"Local\\KELDRIX-Proxy-" + FormatUnsigned(ProxyStatePathHash(path));
}

ProxyMutexLock AcquireProxyMutex(const WideString& path) { return AcquireNamedMutex(ProxyMutexName(path)); }

ProxyMutexLock AcquireProxySettingsLock() { return AcquireNamedMutex(kProxySettingsMutexName); }
