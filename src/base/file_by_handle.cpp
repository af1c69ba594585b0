#include "base/file_by_handle.h"

#include <algorithm>
#include <vector>

#include "base/local_path.h"
#include "base/process.h"
#include "base/unique_resource.h"

namespace {

// "\\?\C:\x" is "C:\x", and "\\?\UNC\server\share" is "\\server\share".
WideString WithoutLongPathPrefix(const WideString& path) {
    const WideString unc = L"\\\\?\\UNC\\";
    const WideString local = L"\\\\?\\";
    if (path.starts_with(unc)) return L"\\\\" + path.substr(unc.size());
    if (path.starts_with(local)) return path.substr(local.size());
    return path;
}

// The rename class that takes flags (Windows 10 and later); MinGW declares it only for a newer
// target than ours.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

std::optional<FileIdentity> DiskFileIdentity(const UniqueHandleFile& file) {
    if (!file || !IsDiskFile(file.Get())) return std::nullopt;
    return IdentityOf(file.Get());
}

}  // namespace

UniqueHandleFile OpenItself(const WideString& path, DWORD access) {
    return UniqueHandleFile(CreateFileW(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT | kClientPathOpenFlags, nullptr));
}

UniqueHandleFile OpenFolderOf(const WideString& fullPath) {
    WideString folder = DirectoryOf(fullPath);
    if (!folder.empty() && folder.back() == L':') folder += L'\\';  // "C:" alone is a current directory
    return UniqueHandleFile(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

WideString FinalFolderPath(const WideString& fullPath) {
    const UniqueHandleFile handle = OpenFolderOf(fullPath);
    if (!handle) return {};
    WideString final = FinalPathOf(handle.Get());
    if (!final.empty() && final.back() == L'\\') final.pop_back();
    return final;
}

std::optional<FileIdentity> IdentityOf(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(file, &information)) return std::nullopt;
    return FileIdentity{information.dwVolumeSerialNumber,
                        (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
}

std::optional<FileIdentity> IdentityAt(const WideString& path) {
    return DiskFileIdentity(OpenItself(path, FILE_READ_ATTRIBUTES));
}

bool DeleteIfStill(const WideString& path, const FileIdentity& identity) {
    const UniqueHandleFile file = OpenItself(path, DELETE | FILE_READ_ATTRIBUTES);
    return DiskFileIdentity(file) == identity && DeleteThroughHandle(file.Get());
}

bool SameName(const WideString& left, const WideString& right) {
    return CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                static_cast<int>(right.size()), TRUE) == CSTR_EQUAL;
}

bool IsDiskFile(HANDLE file) { return GetFileType(file) == FILE_TYPE_DISK; }

WideString FinalPathOf(HANDLE file) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return {};
        if (length < buffer.size()) return WithoutLongPathPrefix(WideString(buffer.data(), length));
        buffer.resize(length + 1);
    }
}

bool IsPlainFileNamed(HANDLE file, const WideString& path) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(file, &information)) return false;
    if ((information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) return false;
    if (information.nNumberOfLinks != 1) return false;
    const WideString fullPath = FullPath(path);
    const WideString folder = FinalFolderPath(fullPath);
    const WideString name = fullPath.substr(fullPath.find_last_of(L"\\/") + 1);
    return !folder.empty() && !name.empty() && SameName(FinalPathOf(file), folder + L"\\" + name);
}

bool IsSameFile(HANDLE left, HANDLE right) {
    const std::optional<FileIdentity> leftIdentity = IdentityOf(left);
    return leftIdentity && leftIdentity == IdentityOf(right);
}

bool DeleteThroughHandle(HANDLE file) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

bool LacksPosixRename(DWORD renameError) {
    return renameError == ERROR_INVALID_PARAMETER || renameError == ERROR_NOT_SUPPORTED ||
           renameError == ERROR_INVALID_FUNCTION;
}

bool MoveThroughHandle(HANDLE file, const WideString& target) {
    // The name follows the record, with room for its terminating zero in FileName[1].
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t), 0);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::copy(target.begin(), target.end(), rename->FileName);
    const auto size = static_cast<DWORD>(buffer.size());
    rename->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
    if (SetFileInformationByHandle(file, kFileRenameInfoEx, rename, size)) return true;
    if (!LacksPosixRename(GetLastError())) return false;
    rename->Flags = 0;
    rename->ReplaceIfExists = TRUE;
    return SetFileInformationByHandle(file, FileRenameInfo, rename, size) != FALSE;
}
