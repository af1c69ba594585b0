#include "proxy/proxy_mutex.h"

#include <optional>

#include "base/command_line.h"
#include "base/file_by_handle.h"
#include "base/local_path.h"
#include "base/process.h"
#include "base/unique_resource.h"
#include "base/win32.h"

namespace {

constexpr uint64_t kPathHashStart = 0x14650fb0739d0383ull;
constexpr uint64_t kPathHashPrime = 0x100000001b3ull;

// The bytes from the last to the first, as one number in hexadecimal, every digit kept.
WideString HexadecimalBytes(const void* data, size_t size) {
    static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    const auto* bytes = static_cast<const unsigned char*>(data);
    WideString text;
    for (size_t i = size; i-- > 0;) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0xF];
    }
    return text;
}

WideString FileNameOf(const WideString& fullPath) { return fullPath.substr(fullPath.find_last_of(L"\\/") + 1); }

// The long name of an existing entry; a short (8.3) spelling of it names the same file.
WideString LongNameOf(const WideString& fullPath, const WideString& name) {
    if (name.find_first_of(L"*?") != WideString::npos) return name;
    WIN32_FIND_DATAW entry{};
    const UniqueFindHandle search(FindFirstFileW(fullPath.c_str(), &entry));
    return search ? WideString(entry.cFileName) : name;
}

// The folder's volume serial number and id in hexadecimal; empty when the folder cannot be opened.
WideString FolderIdentityText(const WideString& fullPath) {
    WideString folder = DirectoryOf(fullPath);
    if (!folder.empty() && folder.back() == L':') folder += L'\\';  // "C:" alone is a current directory
    const UniqueHandleFile handle(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) return {};
    FILE_ID_INFO wide{};
    if (GetFileInformationByHandleEx(handle.Get(), FileIdInfo, &wide, sizeof(wide))) {
        WideString text = HexadecimalBytes(&wide.VolumeSerialNumber, sizeof(wide.VolumeSerialNumber)) + L"-";
        return text + HexadecimalBytes(wide.FileId.Identifier, sizeof(wide.FileId.Identifier));
    }
    const std::optional<FileIdentity> identity = IdentityOf(handle.Get());
    if (!identity) return {};
    return HexadecimalBytes(&identity->volumeSerial, sizeof(identity->volumeSerial)) + L"-" +
           HexadecimalBytes(&identity->fileIndex, sizeof(identity->fileIndex));
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
