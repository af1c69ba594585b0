#include "host/core_installation.h"

#include <utility>
#include <vector>

// clang-format off
#include "base/win32.h"
#include <aclapi.h>
// clang-format on

#include "base/file_by_handle.h"
#include "base/process.h"
#include "host/administrators_only.h"

namespace {

constexpr DWORD kHeldFolderAccess = FILE_LIST_DIRECTORY | READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kHeldCoreAccess = FILE_READ_DATA | FILE_EXECUTE | READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
// Room for a few hundred entries of a folder's listing per call.
constexpr DWORD kListingBytes = 64 * 1024;

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

DWORD RefuseUnlessOnFixedDrive(const WideString& folder) {
    std::vector<wchar_t> root(folder.size() + 2);
    if (!GetVolumePathNameW(folder.c_str(), root.data(), static_cast<DWORD>(root.size()))) return GetLastError();
    return IsFixedLocalDrive(GetDriveTypeW(root.data())) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

DWORD RefuseChangeableByOthers(HANDLE opened, const Administrators& administrators) {
    UniqueLocalMemory descriptor;
    const DWORD error = GetSecurityInfo(opened, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        nullptr, nullptr, nullptr, nullptr, descriptor.Put());
    if (error != ERROR_SUCCESS) return error;
    return JudgeProtection(descriptor.Get(), administrators) == Protection::AdministratorsOnly ? ERROR_SUCCESS
                                                                                              : ERROR_ACCESS_DENIED;
}

// "X:\..." in the form that is not cut at MAX_PATH characters; deep trees make long paths.
WideString WithoutLengthLimit(const WideString& path) {
    return path.size() > 1 && path[1] == L':' ? L"\\\\?\\" + path : path;
}

// What a folder's listing says is at one of its names.
struct Listed {
    WideString path;  // the final path it has: its folder's and its name
    bool folder = false;
};

// The very file or folder listed, not a link: neither one that was opened itself nor one that the
// system followed all the same (Wine follows Unix links, and lists one to a file as that file). No
// one but the administrators may put anything else at the name: its folder was judged first.
bool IsListedItself(HANDLE opened, const Listed& listed) {
    FILE_ATTRIBUTE_TAG_INFO information{};
    return GetFileInformationByHandleEx(opened, FileAttributeTagInfo, &information, sizeof(information)) &&
           (information.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
           SameName(FinalPathOf(opened), listed.path);
}

// Judges every file and folder under a folder, walking the listings through handles, never
// through a link. Each folder is judged before its own listing is read.
class TreeCheck {
public:
    explicit TreeCheck(const Administrators& administrators)
        : administrators_(administrators), listing_(kListingBytes) {}

    // 0, ERROR_ACCESS_DENIED, or the error of a look that failed.
    DWORD Check(HANDLE root, const WideString& rootPath) {
        DWORD result = JudgeContents(root, rootPath);
        while (result == ERROR_SUCCESS && !folders_.empty()) {
            const Listed folder = std::move(folders_.back());
            folders_.pop_back();
            UniqueHandleFile opened;
            result = OpenAndJudge(folder, opened);
            if (result == ERROR_SUCCESS) result = JudgeContents(opened.Get(), folder.path);
        }
        return result;
    }

private:
    DWORD JudgeContents(HANDLE folder, const WideString& folderPath) {
        FILE_INFO_BY_HANDLE_CLASS part = FileIdBothDirectoryRestartInfo;
        for (;;) {
            if (!GetFileInformationByHandleEx(folder, part, listing_.data(), kListingBytes)) {
                const DWORD error = GetLastError();
                return error == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : error;
            }
            part = FileIdBothDirectoryInfo;
            for (size_t at = 0;;) {
                const auto& entry = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(listing_.data() + at);
                const DWORD result = Take(entry, folderPath);
                if (result != ERROR_SUCCESS) return result;
                if (entry.NextEntryOffset == 0) break;
                at += entry.NextEntryOffset;
            }
        }
    }

    // Judges a file at once; a folder once its turn comes.
    DWORD Take(const FILE_ID_BOTH_DIR_INFO& entry, const WideString& folderPath) {
        const WideString name(entry.FileName, entry.FileNameLength / sizeof(wchar_t));
        if (name == L"." || name == L"..") return ERROR_SUCCESS;
        if (++entries_ > kMostEntriesUnderRouter) return ERROR_ACCESS_DENIED;
        if ((entry.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return ERROR_ACCESS_DENIED;
        Listed listed{folderPath + L"\\" + name, (entry.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0};
        if (listed.folder) {
            folders_.push_back(std::move(listed));
            return ERROR_SUCCESS;
        }
        UniqueHandleFile opened;
        return OpenAndJudge(listed, opened);
    }

    // Opens what was listed (the link itself, where the system opens links), to read its access
    // list and, for a folder, its listing.
    DWORD OpenAndJudge(const Listed& listed, UniqueHandleFile& opened) const {
        const DWORD access = READ_CONTROL | FILE_READ_ATTRIBUTES | (listed.folder ? FILE_LIST_DIRECTORY : 0);
        opened.Reset(CreateFileW(WithoutLengthLimit(listed.path).c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!opened) return GetLastError();
        if (!IsListedItself(opened.Get(), listed)) return ERROR_ACCESS_DENIED;
        return RefuseChangeableByOthers(opened.Get(), administrators_);
    }

    const Administrators& administrators_;
    std::vector<unsigned char> listing_;
    std::vector<Listed> folders_;
    size_t entries_ = 0;
};

}  // namespace

DWORD HeldInstallation::Hold(const WideString& helperImage) {
    // The image is opened to learn where it really is (a link on the way is resolved) and to read
    // its access list.
    helper_.Reset(CreateFileW(helperImage.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                              OPEN_EXISTING, 0, nullptr));
    if (!helper_) return GetLastError();
    helperDirectory_ = DirectoryOf(FinalPathOf(helper_.Get()));
    if (helperDirectory_.empty()) return ERROR_PATH_NOT_FOUND;
    helperFolder_ = OpenHeld(helperDirectory_, kHeldFolderAccess);
    if (!helperFolder_) return GetLastError();
    routerFolder_ = OpenHeld(helperDirectory_ + L"\\router", kHeldFolderAccess);
    if (!routerFolder_) return OpenError();
    core_ = OpenHeld(helperDirectory_ + L"\\router\\sing-box.exe", kHeldCoreAccess);
    if (!core_) return OpenError();
    return ERROR_SUCCESS;
}

DWORD HeldInstallation::RefuseUnlessAdministratorsOnly() const {
    DWORD refusal = RefuseUnlessOnFixedDrive(helperDirectory_);
    const Administrators administrators = Administrators::OfThisSystem();
    for (const UniqueHandleFile* held : {&helperFolder_, &helper_, &routerFolder_, &core_}) {
        if (refusal == ERROR_SUCCESS) refusal = RefuseChangeableByOthers(held->Get(), administrators);
    }
    if (refusal != ERROR_SUCCESS) return refusal;
    const WideString routerPath = FinalPathOf(routerFolder_.Get());
    if (routerPath.empty()) return ERROR_PATH_NOT_FOUND;
    return TreeCheck(administrators).Check(routerFolder_.Get(), routerPath);
}

bool HeldInstallation::IsCoreImageOf(HANDLE process) const {
    const WideString imagePath = ProcessImagePath(process);
    if (imagePath.empty()) return false;
    const UniqueHandleFile image(
        CreateFileW(imagePath.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    return image && IsSameFile(image.Get(), core_.Get());
}
