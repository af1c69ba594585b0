#include "base/file_io.h"

#include "base/unique_resource.h"
#include "base/win32.h"
#include "base/win32_error.h"

void WriteFileAtomically(const WideString& path, const ByteString& content) {
    const WideString temporaryPath = path + L".tmp";
    const HANDLE file = CreateFileW(temporaryPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    const BOOL wrote = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    FlushFileBuffers(file);
    CloseHandle(file);
    if (wrote && written == content.size()) {
        MoveFileExW(temporaryPath.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    } else {
        DeleteFileW(temporaryPath.c_str());
    }
}

ByteString ReadWholeFile(const WideString& path) {
    UniqueHandleFile file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) throw Win32Error{GetLastError()};
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
