// WriteFileAtomically and ReadWholeFile against real files of the Wine prefix.
#include <gtest/gtest.h>

#include "base/file_by_handle.h"
#include "base/file_io.h"
#include "base/unique_resource.h"
#include "base/win32.h"
#include "support/temp_directory.h"
#include "support/thrown_error.h"

namespace {

using testing_support::PathExists;
using testing_support::ReadFileBytes;
using testing_support::TemporaryDirectory;
using testing_support::WriteFileBytes;

DWORD ReadFailure(const std::wstring& path) {
    return testing_support::ThrownError([&] { ReadWholeFile(path); }).value_or(0);
}

TEST(WriteFileAtomically, ReplacesTheWholeContentAndLeavesNoTemporaryFile) {
    TemporaryDirectory directory;
    const std::wstring target = directory / L"state";
    WriteFileAtomically(target, "first, longer content");
    WriteFileAtomically(target, "second");
    EXPECT_EQ(ReadFileBytes(target), "second");
    EXPECT_FALSE(PathExists(target + L".tmp"));
    WriteFileAtomically(target, "");
    EXPECT_TRUE(PathExists(target));
    EXPECT_EQ(ReadFileBytes(target), "");
}

// Neither a missing folder nor a folder at the target is something a reader holds: such a
// replacement is refused at once, never left waiting, and leaves nothing behind but its leftover.
TEST(WriteFileAtomically, TargetsThatCannotTakeAFileAreRefusedNotHeld) {
    TemporaryDirectory directory;
    const std::wstring missing = directory / L"no such folder\\state";
    WriteFileAtomically(missing, "x");
    EXPECT_FALSE(PathExists(missing));
    EXPECT_FALSE(PathExists(missing + L".tmp"));
    EXPECT_EQ(FileReplacement(missing, "x").Current(), FileReplacement::State::kRefused);

    const std::wstring folder = directory / L"a folder";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_EQ(FileReplacement(folder, "x").Current(), FileReplacement::State::kRefused);
}

// Under Wine a plain move over a held target fails with 5, however the reader shares.
TEST(WriteFileAtomically, ReaderHoldingTheTargetKeepsOldContentAndTheNewOneWaitsInTmp) {
    TemporaryDirectory directory;
    const std::wstring target = directory / L"state";
    WriteFileAtomically(target, "old");
    for (const DWORD readerShares : {DWORD{FILE_SHARE_READ}, DWORD{FILE_SHARE_READ | FILE_SHARE_DELETE}}) {
        SCOPED_TRACE(readerShares);
        UniqueHandleFile reader(
            CreateFileW(target.c_str(), GENERIC_READ, readerShares, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(reader);
        FileReplacement replacement(target, "new");
        EXPECT_EQ(replacement.Current(), FileReplacement::State::kHeld);
        EXPECT_EQ(replacement.TryAgain(), FileReplacement::State::kHeld);
        EXPECT_EQ(ReadFileBytes(target + L".tmp"), "new") << "the waiting content";
        EXPECT_EQ(ReadFileBytes(target), "old");
        reader.Reset();
        EXPECT_EQ(replacement.TryAgain(), FileReplacement::State::kReplaced);
        EXPECT_EQ(ReadFileBytes(target), "new");
        EXPECT_FALSE(PathExists(target + L".tmp"));
        WriteFileAtomically(target, "old");
    }

    // Newer content takes the waiting content's place, whole, in the same temporary file; a write
    // that gives up leaves its temporary file, which the next write overwrites and lands.
    {
        UniqueHandleFile reader(
            CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        FileReplacement replacement(target, "the longer, older content");
        ASSERT_TRUE(replacement.Supersede("newest"));
        EXPECT_EQ(ReadFileBytes(target + L".tmp"), "newest");
        reader.Reset();
        ASSERT_EQ(replacement.TryAgain(), FileReplacement::State::kReplaced);
        EXPECT_EQ(ReadFileBytes(target), "newest");
        EXPECT_FALSE(replacement.Supersede("landed already")) << "a replaced file is no longer waiting";
    }
    {
        const UniqueHandleFile reader(
            CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        WriteFileAtomically(target, "new");
    }
    EXPECT_EQ(ReadFileBytes(target), "newest");
    EXPECT_EQ(ReadFileBytes(target + L".tmp"), "new");
    WriteFileAtomically(target, "newer");
    EXPECT_EQ(ReadFileBytes(target), "newer");
    EXPECT_FALSE(PathExists(target + L".tmp"));
}

// Windows answers a move over a held target with 5, 32 or 33; 5 is also its answer for a target
// that no one holds but that may not be replaced, which a look at the target tells apart. Wine
// gives the first errors from real operations on held files; the looks it cannot produce (an
// access list that refuses deletion, a read-only file) are given as Windows reports them.
TEST(WriteFileAtomically, OnlyMovesThatAnotherHandleHoldsUpWait) {
    TemporaryDirectory directory;
    const std::wstring target = directory / L"state";
    WriteFileBytes(target, "old");
    const UniqueHandleFile held(CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    const UniqueHandleFile temporary(CreateFileW((target + L".tmp").c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                                                 CREATE_NEW, 0, nullptr));
    ASSERT_FALSE(MoveThroughHandle(temporary.Get(), target));
    const DWORD moveOverHeldTarget = GetLastError();
    ASSERT_FALSE(UniqueHandleFile(CreateFileW(target.c_str(), DELETE, 0, nullptr, OPEN_EXISTING, 0, nullptr)));
    const DWORD sharingViolation = GetLastError();
    ASSERT_TRUE(LockFile(held.Get(), 0, 0, 3, 0));
    const UniqueHandleFile reader(CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
    ASSERT_FALSE(LockFile(reader.Get(), 0, 0, 1, 0));
    const DWORD lockViolation = GetLastError();
    UnlockFile(held.Get(), 0, 0, 3, 0);
    EXPECT_EQ(moveOverHeldTarget, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(sharingViolation, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(lockViolation, static_cast<DWORD>(ERROR_LOCK_VIOLATION));

    const ReplaceTargetLook heldWithoutDeleteSharing{ERROR_SHARING_VIOLATION, 0};
    const ReplaceTargetLook plainFile{ERROR_SUCCESS, FILE_ATTRIBUTE_NORMAL};
    const ReplaceTargetLook nothingThere{ERROR_FILE_NOT_FOUND, 0};
    for (const ReplaceTargetLook& look : {heldWithoutDeleteSharing, plainFile, nothingThere}) {
        EXPECT_TRUE(IsHeldByAnotherHandle(moveOverHeldTarget, look)) << look.openError;
    }
    for (const DWORD error : {sharingViolation, lockViolation}) {
        EXPECT_TRUE(IsHeldByAnotherHandle(error, plainFile)) << error;
    }
    const ReplaceTargetLook deletionRefused{ERROR_ACCESS_DENIED, 0};
    const ReplaceTargetLook readOnly{ERROR_SUCCESS, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE};
    const ReplaceTargetLook folder{ERROR_SUCCESS, FILE_ATTRIBUTE_DIRECTORY};
    for (const ReplaceTargetLook& look : {deletionRefused, readOnly, folder}) {
        EXPECT_FALSE(IsHeldByAnotherHandle(moveOverHeldTarget, look)) << look.openError << " " << look.attributes;
    }
    ASSERT_FALSE(MoveThroughHandle(temporary.Get(), directory / L"no such folder\\state"));
    EXPECT_FALSE(IsHeldByAnotherHandle(GetLastError(), nothingThere));
}

// Where the system has no POSIX rename to offer (Wine answers 87), the plain move is used; any
// other refusal is the move's own.
TEST(MoveThroughHandle, FallsBackToAPlainMoveOnlyWherePosixSemanticsAreMissing) {
    for (const DWORD missing : {ERROR_INVALID_PARAMETER, ERROR_NOT_SUPPORTED, ERROR_INVALID_FUNCTION}) {
        EXPECT_TRUE(LacksPosixRename(missing)) << missing;
    }
    for (const DWORD refused : {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_PATH_NOT_FOUND}) {
        EXPECT_FALSE(LacksPosixRename(refused)) << refused;
    }
}

TEST(WriteFileAtomically, TemporaryNameThatCannotBeTakenOverIsLeftAloneAndAnotherOneUsed) {
    TemporaryDirectory directory;
    const std::wstring target = directory / L"state";
    HANDLE other = CreateFileW((target + L".tmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(other, "another writer's", 16, &written, nullptr);
    WriteFileAtomically(target, "arrives");
    CloseHandle(other);
    EXPECT_EQ(ReadFileBytes(target), "arrives");
    EXPECT_EQ(ReadFileBytes(target + L".tmp"), "another writer's");
    // A plain leftover is taken over by the next write.
    WriteFileAtomically(target, "again");
    EXPECT_EQ(ReadFileBytes(target), "again");
    EXPECT_FALSE(PathExists(target + L".tmp"));
}

TEST(ReadWholeFile, ReadsUpToTheLimitAndRefusesMore) {
    TemporaryDirectory directory;
    WriteFileBytes(directory / L"empty", "");
    EXPECT_EQ(ReadWholeFile(directory / L"empty"), "");
    std::string limit(kMaxWholeFileBytes, '\0');
    for (size_t i = 0; i < limit.size(); ++i) limit[i] = static_cast<char>(i * 7);
    WriteFileBytes(directory / L"limit", limit);
    EXPECT_EQ(ReadWholeFile(directory / L"limit"), limit);
    WriteFileBytes(directory / L"over", limit + "x");
    EXPECT_EQ(ReadFailure(directory / L"over"), static_cast<DWORD>(ERROR_INVALID_DATA));
}

TEST(ReadWholeFile, ThrowsTheOpenError) {
    TemporaryDirectory directory;
    EXPECT_EQ(ReadFailure(directory / L"missing"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ReadFailure(directory / L"missing folder\\file"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    const std::wstring locked = directory / L"locked";
    WriteFileBytes(locked, "x");
    HANDLE writer = CreateFileW(locked.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadFailure(locked), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(writer);
}

TEST(ReadWholeFile, FileBeyondFourGigabytesIsOversizedNotShort) {
    TemporaryDirectory directory;
    const std::wstring path = directory / L"sparse";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    size.QuadPart = (1LL << 32) + 16;  // the low 32 bits alone would read as 16 bytes
    ASSERT_TRUE(SetFilePointerEx(file, size, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file));
    CloseHandle(file);
    EXPECT_EQ(ReadFailure(path), static_cast<DWORD>(ERROR_INVALID_DATA));
}

}  // namespace
