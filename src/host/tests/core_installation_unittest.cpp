// Whether a user could change an installation, decided by the system's AccessCheck against
// access lists that real Windows folders carry, for a token built like a medium-integrity
// client's: Administrators for deny only.
#include <gtest/gtest.h>

#include <string>
#include <vector>

// clang-format off
#include "base/win32.h"
#include <sddl.h>
// clang-format on

#include "base/process.h"
#include "host/core_installation.h"
#include "host/user_rights.h"

namespace {

const std::wstring kTrustedInstaller = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
const std::wstring kAllApplicationPackages = L"S-1-15-2-1";
const std::wstring kAllRestrictedApplicationPackages = L"S-1-15-2-2";

std::wstring UserSid(HANDLE token) {
    const std::vector<unsigned char> user = TokenInformation(token, TokenUser);
    UniqueLocalMemory text;
    if (user.empty() ||
        !ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid,
                                reinterpret_cast<wchar_t**>(text.Put()))) {
        return {};
    }
    return static_cast<const wchar_t*>(text.Get());
}

TEST(InstallationCheck, OnlyWhatAnUnelevatedUserCannotChangePasses) {
    const UniqueHandleNull client = UnelevatedCopyOfOwnToken();
    ASSERT_TRUE(client);
    const std::wstring user = UserSid(client.Get());
    ASSERT_FALSE(user.empty());
    struct Case {
        const char* folder;
        std::wstring sddl;
        DWORD expected;
    };
    const Case cases[] = {
        {"Program Files",
         L"O:" + kTrustedInstaller + L"G:" + kTrustedInstaller + L"D:PAI(A;;FA;;;" + kTrustedInstaller +
             L")(A;CIIO;GA;;;" + kTrustedInstaller + L")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)"
             L"(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;" +
             kAllApplicationPackages + L")(A;OICIIO;GXGR;;;" + kAllApplicationPackages + L")(A;;0x1200a9;;;" +
             kAllRestrictedApplicationPackages + L")(A;OICIIO;GXGR;;;" + kAllRestrictedApplicationPackages + L")",
         ERROR_SUCCESS},
        {"a folder in the user's profile",
         L"O:" + user + L"G:" + user + L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + user + L")",
         ERROR_ACCESS_DENIED},
        {"a folder where Authenticated Users may modify",
         L"O:BAG:SYD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICI;0x1301bf;;;AU)",
         ERROR_ACCESS_DENIED},
        {"a folder the user owns, though its list lets everyone only read (the owner may change the list)",
         L"O:" + user + L"G:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;WD)", ERROR_ACCESS_DENIED},
        {"a folder where everyone may modify but the user is denied it",
         L"O:BAG:SYD:(D;;0x1301bf;;;" + user + L")(A;;0x1301bf;;;WD)(A;;FA;;;BA)", ERROR_SUCCESS},
    };
    for (const Case& folder : cases) {
        SCOPED_TRACE(folder.folder);
        UniqueLocalMemory descriptor;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(folder.sddl.c_str(), SDDL_REVISION_1,
                                                                         descriptor.Put(), nullptr))
            << GetLastError();
        EXPECT_EQ(RefuseChangeableBy(descriptor.Get(), client.Get()), folder.expected);
    }
}

}  // namespace
