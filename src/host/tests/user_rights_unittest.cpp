// The tokens the elevated host works with on client-named paths. Wine enforces no access lists
// on files, so what shows here is which token a write runs with, and that a token the thread
// cannot take means nothing is done.
#include <gtest/gtest.h>

#include <utility>

#include "base/client_path_access.h"
#include "base/file_io.h"
#include "host/user_rights.h"
#include "support/temp_directory.h"
#include "support/thrown_error.h"

namespace {

using namespace testing_support;

bool ThreadImpersonates() {
    UniqueHandleNull token;
    return OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.Put()) != FALSE;
}

TEST(ClientPathToken, WorkRunsWithItAndNotAtAllWhereTheThreadCannotTakeIt) {
    const TemporaryDirectory directory;
    UniqueHandleNull usable = UnelevatedCopyOfOwnToken();
    ASSERT_TRUE(usable);
    // The same token without the right to impersonate it: no thread can take it.
    UniqueHandleNull unusable;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), usable.Get(), GetCurrentProcess(), unusable.Put(), TOKEN_QUERY,
                                FALSE, 0));
    const std::wstring existing = directory / L"existing";
    WriteFileBytes(existing, "a client's file");

    UseForClientPaths(std::move(unusable));
    WriteFileAtomically(directory / L"state", "must not be written");
    EXPECT_FALSE(PathExists(directory / L"state"));
    EXPECT_EQ(ThrownError([&] { ReadWholeFile(existing); }), Win32Error{ERROR_ACCESS_DENIED});

    UseForClientPaths(std::move(usable));
    WriteFileAtomically(directory / L"state", "written as the user");
    const bool impersonatedAfterwards = ThreadImpersonates();
    UseForClientPaths({});
    EXPECT_EQ(ReadFileBytes(directory / L"state"), "written as the user");
    EXPECT_FALSE(impersonatedAfterwards) << "the thread kept the user's token after the write";
}

}  // namespace
