// The token the elevated host works on client-named paths with. Wine does not enforce access
// lists, so what can be shown here is the token itself and that files are still written with it.
#include <gtest/gtest.h>

#include <vector>

#include "base/client_path_access.h"
#include "base/file_io.h"
#include "host/user_rights.h"
#include "support/temp_directory.h"

namespace {

template <typename Value>
Value TokenValue(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
    Value value{};
    DWORD size = 0;
    GetTokenInformation(token, kind, &value, sizeof(value), &size);
    return value;
}

TEST(UserRightsToken, IsAnImpersonationTokenWithoutAdministratorsOrPrivileges) {
    const UniqueHandleNull token = MakeUserRightsToken();
    ASSERT_TRUE(token);
    EXPECT_EQ(TokenValue<TOKEN_TYPE>(token.Get(), TokenType), TokenImpersonation);
    EXPECT_EQ(TokenValue<SECURITY_IMPERSONATION_LEVEL>(token.Get(), TokenImpersonationLevel), SecurityImpersonation);

    unsigned char administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(administrators);
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize));
    const std::vector<unsigned char> groupBytes = TokenInformation(token.Get(), TokenGroups);
    ASSERT_FALSE(groupBytes.empty());
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(groupBytes.data());
    int administratorEntries = 0;
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        if (!EqualSid(groups->Groups[i].Sid, administrators)) continue;
        ++administratorEntries;
        EXPECT_NE(groups->Groups[i].Attributes & SE_GROUP_USE_FOR_DENY_ONLY, 0u) << "Administrators still grants";
    }
    EXPECT_EQ(administratorEntries, 1) << "the host runs as an administrator here";

    LUID changeNotify{};
    ASSERT_TRUE(LookupPrivilegeValueW(nullptr, SE_CHANGE_NOTIFY_NAME, &changeNotify));
    const std::vector<unsigned char> privilegeBytes = TokenInformation(token.Get(), TokenPrivileges);
    ASSERT_FALSE(privilegeBytes.empty());
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(privilegeBytes.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID& luid = privileges->Privileges[i].Luid;
        EXPECT_TRUE(luid.LowPart == changeNotify.LowPart && luid.HighPart == changeNotify.HighPart)
            << "privilege " << luid.LowPart << " kept";
    }
}

TEST(UserRightsToken, FilesAreStillWrittenWhileItIsImpersonated) {
    UniqueHandleNull token = MakeUserRightsToken();
    ASSERT_TRUE(token);
    UseForClientPaths(token.Get());
    testing_support::TemporaryDirectory directory;
    WriteFileAtomically(directory / L"state", "written as the user");
    HANDLE threadToken = nullptr;
    const bool impersonatedAfterwards = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &threadToken);
    if (threadToken != nullptr) CloseHandle(threadToken);
    UseForClientPaths(nullptr);
    EXPECT_EQ(testing_support::ReadFileBytes(directory / L"state"), "written as the user");
    EXPECT_FALSE(impersonatedAfterwards) << "the thread kept the user's token after the write";
}

}  // namespace
