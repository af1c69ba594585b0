// Whether a user could change an installation, decided by its owner and the system's AccessCheck
// against access lists that real Windows folders carry, for a token built like a medium-integrity
// client's: Administrators for deny only. Then the installation held, and the core that runs
// compared with the one held.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

// clang-format off
#include "base/win32.h"
#include <sddl.h>
// clang-format on

#include "base/process.h"
#include "host/core_installation.h"
#include "host/user_rights.h"
#include "support/helper_process.h"
#include "support/temp_directory.h"

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
        bool ownedByTheUser = false;  // by its user or one of its enabled groups
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
         ERROR_ACCESS_DENIED, true},
        {"a folder where Authenticated Users may modify",
         L"O:BAG:SYD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICI;0x1301bf;;;AU)",
         ERROR_ACCESS_DENIED},
        {"a folder the user owns, though its list lets everyone only read (the owner may change the list)",
         L"O:" + user + L"G:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;WD)", ERROR_ACCESS_DENIED, true},
        // OWNER RIGHTS takes the owner's implicit rights away, so Windows' AccessCheck grants no
        // change here; yet the owner may take ownership's rights back at any time.
        {"a folder the user owns whose OWNER RIGHTS entry grants only reading",
         L"O:" + user + L"G:SYD:P(A;OICI;FR;;;OW)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)",
         ERROR_ACCESS_DENIED, true},
        // Windows grants the owner READ_CONTROL and WRITE_DAC whatever a deny entry says (Wine
        // lets the entry take them away).
        {"a folder the user owns whose list denies the user every right to change it",
         L"O:" + user + L"G:SYD:P(D;OICI;0x1d0156;;;" + user + L")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;WD)",
         ERROR_ACCESS_DENIED, true},
        {"a folder owned by Everyone, a group the user holds, that lets everyone only read",
         L"O:WDG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;WD)", ERROR_ACCESS_DENIED, true},
        {"a folder that an elevated administrator installed: owned by Administrators, deny-only for the user",
         L"O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", ERROR_SUCCESS},
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
        EXPECT_EQ(IsOwnedBy(descriptor.Get(), client.Get()), folder.ownedByTheUser);
    }
}

// An installation laid out by the test: the helper, router\ and router\sing-box.exe (a copy of
// the stand-in core, so that it can be started).
struct TestInstallation {
    testing_support::TemporaryDirectory directory;
    std::wstring folder = directory / L"installation";
    std::wstring helper = folder + L"\\helper.exe";
    std::wstring router = folder + L"\\router";
    std::wstring core = router + L"\\sing-box.exe";

    TestInstallation() {
        CreateDirectoryW(folder.c_str(), nullptr);
        CreateDirectoryW(router.c_str(), nullptr);
        testing_support::WriteFileBytes(helper, "the helper");
        CopyFileW(testing_support::StandInCorePath().c_str(), core.c_str(), TRUE);
    }
};

TEST(HeldInstallation, NothingHeldCanBeWrittenDeletedOrRenamedUntilReleased) {
    const TestInstallation installation;
    const std::wstring elsewhere = installation.directory / L"another core.exe";
    testing_support::WriteFileBytes(elsewhere, "another program");
    auto held = std::make_unique<HeldInstallation>();
    ASSERT_EQ(held->Hold(installation.helper), 0u);

    const HANDLE written = CreateFileW(installation.core.c_str(), FILE_WRITE_DATA,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       0, nullptr);
    EXPECT_EQ(written, INVALID_HANDLE_VALUE) << "the held core was opened for writing";
    if (written != INVALID_HANDLE_VALUE) CloseHandle(written);
    EXPECT_FALSE(DeleteFileW(installation.core.c_str()));
    EXPECT_FALSE(MoveFileExW(elsewhere.c_str(), installation.core.c_str(), MOVEFILE_REPLACE_EXISTING))
        << "the held core was replaced";
    for (const std::wstring* path : {&installation.core, &installation.router, &installation.folder}) {
        EXPECT_FALSE(MoveFileExW(path->c_str(), (*path + L" moved").c_str(), 0)) << ToUtf8(*path);
    }
    EXPECT_EQ(testing_support::ReadFileBytes(installation.helper), "the helper") << "reading is shared";

    held.reset();
    EXPECT_TRUE(MoveFileExW(elsewhere.c_str(), installation.core.c_str(), MOVEFILE_REPLACE_EXISTING));
}

TEST(HeldInstallation, TellsTheHeldCoreFromAnotherFileWithTheSameContent) {
    const TestInstallation installation;
    HeldInstallation held;
    ASSERT_EQ(held.Hold(installation.helper), 0u);
    const std::pair<std::wstring, bool> programs[] = {{installation.core, true},
                                                      {testing_support::StandInCorePath(), false}};
    for (const auto& [program, isTheHeldCore] : programs) {
        SCOPED_TRACE(ToUtf8(program));
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        ASSERT_TRUE(testing_support::CreateTestProcess(program, L"\"" + program + L"\"", startup, info,
                                                       {.flags = CREATE_SUSPENDED}));
        const UniqueHandleNull process(info.hProcess);
        const UniqueHandleNull thread(info.hThread);
        EXPECT_EQ(held.IsCoreImageOf(process.Get()), isTheHeldCore);
        TerminateProcess(process.Get(), 1);
        WaitForSingleObject(process.Get(), 5000);
    }
}

}  // namespace
