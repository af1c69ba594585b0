#pragma once

#include <cstdint>

#include "base/text.h"
#include "base/unique_resource.h"
#include "base/win32.h"

// FNV-1a over the path's UTF-16 units as given, from the start value 0x14650fb0739d0383.
uint64_t HashProxyStatePath(const WideString& path);

// The path upper-cased unit by unit as the invariant locale does, so that names that Windows
// takes for one file hash alike.
WideString CaseFoldedPath(const WideString& path);

// The proxy state file as the system finds it: the final path of its folder (after every
// junction, link, "..", "/" or "\\?\" on the way) and its own name, the long one if the file
// exists. The file itself need not exist. Where the folder cannot be opened, the full path;
// where even that fails, the path as given.
WideString ResolvedProxyStatePath(const WideString& path);

// What names one proxy state file, however it is reached: the identity of its folder (the volume's
// serial number and the folder's id, from FILE_ID_INFO where the volume gives it, else from the
// 64-bit index) and the file's long name, upper-cased. A drive letter, mount point, junction or
// link on the way changes nothing. Where the folder cannot be opened, the full path, upper-cased;
// where even that fails, the path as given.
WideString ProxyStateFileKey(const WideString& path);

// "Local\KELDRIX-Proxy-" and the hash of the file's key in decimal: one mutex per proxy state file.
WideString ProxyMutexName(const WideString& path);

inline void ReleaseAndCloseMutex(HANDLE mutex) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

// Ownership of a proxy mutex: released, then closed, when the holder goes out of scope.
using ProxyMutexLock = UniqueResource<HANDLE, ReleaseAndCloseMutex, NullHandleValue>;

inline constexpr DWORD kProxyMutexWaitMilliseconds = 15000;

// Waits up to 15 s for the path's mutex; one abandoned by a holder that died is taken over. It is
// opened for waiting and releasing alone, so that a mutex another program created first with an
// access list that grants that much still serves.
// Throws Win32Error: the creation error (5 where even that is refused), or 1460 (ERROR_TIMEOUT)
// when the wait does not succeed.
ProxyMutexLock AcquireProxyMutex(const WideString& path);

// The user's settings are one for every proxy state file: whoever reads, saves and changes them
// holds this lock too, taken after the file's own mutex (never the other way round), on the
// same terms.
inline constexpr wchar_t kProxySettingsMutexName[] = L"Local\\KELDRIX-Proxy-Settings";
ProxyMutexLock AcquireProxySettingsLock();
