#include "base/file_io.h"

#include "base/client_path_access.h"
#include "base/file_by_handle.h"
#include "base/unique_resource.h"

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
    const UniqueHandleFile leftover = OpenItself(name, DELETE | FILE_READ_ATTRIBUTES);
    if (leftover && IsPlainFileNamed(leftover.Get(), name)) DeleteThroughHandle(leftover.Get());
}

WideString FreshTemporaryName(const WideString& path, unsigned attempt) {
    return path + L"." + FormatUnsigned(GetCurrentProcessId()) + L"." + FormatUnsigned(attempt) + L".tmp";
}

// A new, empty file of the caller's own beside `path`, to be written and then moved over it:
// "<path>.tmp", created with create-new semantics so that nothing already there is written
// through. An ordinary file left there by a crash between write and move goes first. Anything
// else at that name (a link of any kind, a folder, a file someone holds) stays untouched, and a
// fresh name of this process's own, "<path>.<process id>.<n>.tmp", is used instead.
// The handle has write and delete access and shares reading only; none when no name could be
// created (a missing folder, for one).
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

// Opens the target for deletion without deleting it, only to learn what keeps a move off it.
ReplaceTargetLook LookAtReplaceTarget(const WideString& path) {
    const UniqueHandleFile target = OpenItself(path, DELETE | FILE_READ_ATTRIBUTES);
    if (!target) return {GetLastError(), 0};
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(target.Get(), &information)) return {GetLastError(), 0};
    return {ERROR_SUCCESS, information.dwFileAttributes};
}

}  // namespace

bool IsHeldByAnotherHandle(DWORD moveError, const ReplaceTargetLook& target) {
    if (moveError == ERROR_SHARING_VIOLATION || moveError == ERROR_LOCK_VIOLATION) return true;
    if (moveError != ERROR_ACCESS_DENIED) return false;
    // Access denied is also what a plain move over a file that someone holds open gets.
    switch (target.openError) {
        case ERROR_SUCCESS: return (target.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
        case ERROR_SHARING_VIOLATION:
        // Nothing there to hold: the temporary file is held, or the holder has just let go.
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return true;
        default: return false;
    }
}

FileReplacement::FileReplacement(const WideString& path, const ByteString& content) : path_(path) {
    const ClientPathAccess access;
    if (!access.Granted()) return;
    temporary_ = CreateTemporaryFileFor(path);
    if (!temporary_) return;
    if (WriteTemporary(content)) {
        TryToMove();
    } else {
        DeleteTemporary();
    }
}

FileReplacement::State FileReplacement::TryAgain() {
    if (state_ == State::kHeld) {
        const ClientPathAccess access;
        if (access.Granted()) TryToMove();
    }
    return state_;
}

bool FileReplacement::Supersede(const ByteString& content) {
    if (state_ != State::kHeld) return false;
    const ClientPathAccess access;
    if (!access.Granted()) return false;
    const LARGE_INTEGER start{};
    if (!SetFilePointerEx(temporary_.Get(), start, nullptr, FILE_BEGIN) || !WriteTemporary(content)) {
        DeleteTemporary();
        return false;
    }
    TryToMove();
    return true;
}

// The whole content, and nothing after it (a superseded content may have been longer), flushed.
bool FileReplacement::WriteTemporary(const ByteString& content) {
    DWORD written = 0;
    const bool whole =
        WriteFile(temporary_.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
        written == content.size() && SetEndOfFile(temporary_.Get());
    FlushFileBuffers(temporary_.Get());
    return whole;
}

void FileReplacement::DeleteTemporary() {
    DeleteThroughHandle(temporary_.Get());
    temporary_.Reset();
    state_ = State::kRefused;
}

// Runs with the client's rights on the thread. A look that finds the target free means that the
// reader who held it has just let go: readers that read without pause leave few such moments, so
// the move is tried again at once, before the next one opens it.
void FileReplacement::TryToMove() {
    if (!MoveThroughHandle(temporary_.Get(), path_)) {
        const DWORD moveError = GetLastError();
        const ReplaceTargetLook look = LookAtReplaceTarget(path_);
        if (look.openError != ERROR_SUCCESS || !MoveThroughHandle(temporary_.Get(), path_)) {
            state_ = IsHeldByAnotherHandle(moveError, look) ? State::kHeld : State::kRefused;
            if (state_ == State::kRefused) temporary_.Reset();
            return;
        }
    }
    state_ = State::kReplaced;
    temporary_.Reset();
}

void WriteFileAtomically(const WideString& path, const ByteString& content) {
    FileReplacement replacement(path, content);
    const ULONGLONG deadline = GetTickCount64() + kReplaceRetryMilliseconds;
    while (replacement.Current() == FileReplacement::State::kHeld && GetTickCount64() < deadline) {
        Sleep(1);
        replacement.TryAgain();
    }
}

DWORD LookAtPath(const WideString& path) {
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    return error == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : error;
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
