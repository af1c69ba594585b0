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

// Under Wine every token is an interactive user's, unrestricted, outside any AppContainer, at high
// integrity: the facts are read from real tokens, and the decision is shown on facts as Windows
// would give them.
TEST(ClientToken, OnlyAnOrdinaryInteractiveUsersProgramIsAClient) {
    UniqueHandleNull own;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, own.Put()));
    const UniqueHandleNull reduced = UnelevatedCopyOfOwnToken();
    ASSERT_TRUE(reduced);
    DWORD session = 0;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    TokenFacts user;
    for (const HANDLE token : {own.Get(), reduced.Get()}) {
        ASSERT_TRUE(ReadTokenFacts(token, user));
        EXPECT_TRUE(user.user.starts_with(L"S-1-5-21-")) << ToUtf8(user.user);
        EXPECT_EQ(user.restrictingSids, 0u);
        EXPECT_FALSE(user.appContainer);
        EXPECT_EQ(user.sessionId, session);
        EXPECT_GE(user.integrity, static_cast<DWORD>(SECURITY_MANDATORY_MEDIUM_RID));
        EXPECT_TRUE(IsOrdinaryInteractiveClient(user, session));
        EXPECT_TRUE(IsOrdinaryInteractiveClient(token));
    }
    for (const wchar_t* service : {L"S-1-5-18", L"S-1-5-19", L"S-1-5-20"}) {
        TokenFacts facts = user;
        facts.user = service;
        EXPECT_FALSE(IsOrdinaryInteractiveClient(facts, session)) << ToUtf8(service);
    }
    TokenFacts restricted = user;
    restricted.restrictingSids = 1;
    EXPECT_FALSE(IsOrdinaryInteractiveClient(restricted, session));
    TokenFacts sandboxed = user;
    sandboxed.appContainer = true;
    EXPECT_FALSE(IsOrdinaryInteractiveClient(sandboxed, session));
    EXPECT_FALSE(IsOrdinaryInteractiveClient(user, session + 1)) << "another session's program";
    // Integrity levels, as Windows gives them: below medium is refused, whatever else the token holds.
    const std::pair<DWORD, bool> integrities[] = {{SECURITY_MANDATORY_UNTRUSTED_RID, false},
                                                  {SECURITY_MANDATORY_LOW_RID, false},
                                                  {SECURITY_MANDATORY_MEDIUM_RID - 1, false},
                                                  {SECURITY_MANDATORY_MEDIUM_RID, true},
                                                  {SECURITY_MANDATORY_MEDIUM_RID + 0x100, true},  // UI access
                                                  {SECURITY_MANDATORY_HIGH_RID, true}};
    for (const auto& [integrity, client] : integrities) {
        TokenFacts facts = user;
        facts.integrity = integrity;
        EXPECT_EQ(IsOrdinaryInteractiveClient(facts, session), client) << integrity;
    }
}

}  // namespace
