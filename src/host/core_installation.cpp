#include "host/core_installation.h"

// clang-format off
#include "base/win32.h"
#include <aclapi.h>
// clang-format on

#include "base/file_by_handle.h"
#include "base/process.h"
#include "host/user_rights.h"

namespace {

constexpr SECURITY_INFORMATION kWhatDecides =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

constexpr DWORD kHeldFolderAccess = FILE_LIST_DIRECTORY | READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kHeldCoreAccess = FILE_READ_DATA | FILE_EXECUTE | READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// Reads the access list, and keeps the file or folder from being written, renamed, deleted or
// replaced while the handle is open; the core's own start only reads and runs, which is shared.
UniqueHandleFile OpenHeld(const WideString& path, DWORD access) {
    return UniqueHandleFile(CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

DWORD OpenError() {
    const DWORD error = GetLastError();
    return error == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : error;
}

DWORD RefuseChangeable(HANDLE held, HANDLE userRights) {
    UniqueLocalMemory descriptor;
    const DWORD error = GetSecurityInfo(held, SE_FILE_OBJECT, kWhatDecides, nullptr, nullptr, nullptr, nullptr,
                                        descriptor.Put());
    if (error != ERROR_SUCCESS) return error;
    return RefuseChangeableBy(descriptor.Get(), userRights);
}

}  // namespace

DWORD RefuseChangeableBy(PSECURITY_DESCRIPTOR descriptor, HANDLE userRights) {
    if (IsOwnedBy(descriptor, userRights)) return ERROR_ACCESS_DENIED;
    GENERIC_MAPPING fileMapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges{};
    DWORD privilegesSize = sizeof(privileges);
    DWORD granted = 0;
    BOOL anyGranted = FALSE;
    if (!AccessCheck(descriptor, userRights, MAXIMUM_ALLOWED, &fileMapping, &privileges, &privilegesSize, &granted,
                     &anyGranted)) {
        return GetLastError();
    }
    return anyGranted && (granted & kChangingAccess) != 0 ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

DWORD HeldInstallation::Hold(const WideString& helperImage) {
    // The image is opened only to learn where it really is; a link on the way is resolved.
    const UniqueHandleFile image(CreateFileW(helperImage.c_str(), FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
    if (!image) return GetLastError();
    helperDirectory_ = DirectoryOf(FinalPathOf(image.Get()));
    if (helperDirectory_.empty()) return ERROR_PATH_NOT_FOUND;
    helperFolder_ = OpenHeld(helperDirectory_, kHeldFolderAccess);
    if (!helperFolder_) return GetLastError();
    routerFolder_ = OpenHeld(helperDirectory_ + L"\\router", kHeldFolderAccess);
    if (!routerFolder_) return OpenError();
    core_ = OpenHeld(helperDirectory_ + L"\\router\\sing-box.exe", kHeldCoreAccess);
    if (!core_) return OpenError();
    return ERROR_SUCCESS;
}

DWORD HeldInstallation::RefuseChangeableBy(HANDLE userRights) const {
    for (const UniqueHandleFile* held : {&helperFolder_, &routerFolder_, &core_}) {
        const DWORD refusal = RefuseChangeable(held->Get(), userRights);
        if (refusal != ERROR_SUCCESS) return refusal;
    }
    return ERROR_SUCCESS;
}

bool HeldInstallation::IsCoreImageOf(HANDLE process) const {
    const WideString imagePath = ProcessImagePath(process);
    if (imagePath.empty()) return false;
    const UniqueHandleFile image(CreateFileW(imagePath.c_str(), FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
    return image && IsSameFile(image.Get(), core_.Get());
}
