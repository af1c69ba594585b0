#include "base/file_io.h"

#include "base/client_path_access.h"
#include "base/file_by_handle.h"
#include "base/temporary_file.h"
#include "base/unique_resource.h"
#include "base/win32_error.h"

namespace {

void ReplaceWith(HANDLE temporary, const WideString& path) {
    const ULONGLONG deadline = GetTickCount64() + kReplaceRetryMilliseconds;
    while (!MoveThroughHandle(temporary, path)) {
        if (!IsHeldByAnotherHandle(GetLastError()) || GetTickCount64() >= deadline) return;
        Sleep(1);
    }
}

}  // namespace

bool IsHeldByAnotherHandle(DWORD moveError) {
    return moveError == ERROR_ACCESS_DENIED || moveError == ERROR_SHARING_VIOLATION ||
           moveError == ERROR_LOCK_VIOLATION;
}

void WriteFileAtomically(const WideString& path, const ByteString& content) {
    const ClientPathAccess access;
    if (!access.Granted()) return;
    const UniqueHandleFile temporary = CreateTemporaryFileFor(path);
    if (!temporary) return;
    DWORD written = 0;
    const BOOL wrote = WriteFile(temporary.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    FlushFileBuffers(temporary.Get());
    if (wrote && written == content.size()) {
        ReplaceWith(temporary.Get(), path);
    } else {
        DeleteThroughHandle(temporary.Get());
    }
}

ByteString ReadWholeFile(const WideString& path) {
    const ClientPathAccess access;
    if (!access.Granted()) throw Win32Error{ERROR_ACCESS_DENIED};
    UniqueHandleFile file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, kClientPathOpenFlags, nullptr));
    if (!file) throw Win32Error{GetLastError()};
    if (!IsDiskFile(file.Get())) throw Win32Error{ERROR_INVALID_DATA};
    // The high part counts too: a file of 4 GiB and a few bytes is oversized, not tiny.
    DWORD sizeHigh = 0;
    const DWORD size = GetFileSize(file.Get(), &sizeHigh);
    if (size == INVALID_FILE_SIZE || sizeHigh != 0 || size > kMaxWholeFileBytes) throw Win32Error{ERROR_INVALID_DATA};
    ByteString content(size, '\0');
    DWORD read = 0;
    const BOOL ok = ReadFile(file.Get(), content.data(), size, &read, nullptr);
    const DWORD error = GetLastError();
    file.Reset();
    if (!ok || read < size) throw Win32Error{error};
    return content;
}
