#include "base/temporary_file.h"

#include "base/file_by_handle.h"
#include "base/number_conversion.h"

namespace {

constexpr unsigned kFreshNameAttempts = 3;

// FILE_FLAG_OPEN_REPARSE_POINT: a link at the name counts as existing, even one that points
// nowhere, so it is never followed to create its target. Readers may share the file: once it has
// been moved over the target, a reader that shares everything can open it before it is closed.
// Writers and deleters may not. A name that opens something other than a file on disk (a pipe
// that another program serves, a device) is never written to.
UniqueHandleFile CreateNew(const WideString& name) {
    UniqueHandleFile file(CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | kClientPathOpenFlags,
                                      nullptr));
    if (file && !IsDiskFile(file.Get())) file.Reset();
    return file;
}

// Decides and acts through one handle, so the name cannot be swapped for a link in between.
void RemoveLeftover(const WideString& name) {
    const UniqueHandleFile leftover(CreateFileW(name.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | kClientPathOpenFlags,
                                                nullptr));
    if (leftover && IsPlainFileNamed(leftover.Get(), name)) DeleteThroughHandle(leftover.Get());
}

WideString FreshTemporaryName(const WideString& path, unsigned attempt) {
    return path + L"." + FormatUnsigned(GetCurrentProcessId()) + L"." + FormatUnsigned(attempt) + L".tmp";
}

}  // namespace

UniqueHandleFile CreateTemporaryFileFor(const WideString& path) {
    const WideString usual = path + L".tmp";
    UniqueHandleFile file = CreateNew(usual);
    if (file) return file;
    RemoveLeftover(usual);
    file = CreateNew(usual);
    for (unsigned attempt = 1; !file && attempt <= kFreshNameAttempts; ++attempt) {
        file = CreateNew(FreshTemporaryName(path, attempt));
    }
    return file;
}
