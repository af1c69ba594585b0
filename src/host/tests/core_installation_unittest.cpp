// Whether administrators alone may change an installation, judged from owners and access entries
// that real Windows folders carry and that a user could make; then the installation held, and the
// core that runs compared with the one held.
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
#include "host/administrators_only.h"
#include "host/core_installation.h"
#include "support/helper_process.h"
#include "support/temp_directory.h"

namespace {

const std::wstring kTrustedInstaller = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
const std::wstring kAllApplicationPackages = L"S-1-15-2-1";
const std::wstring kAllRestrictedApplicationPackages = L"S-1-15-2-2";
const std::wstring kUser = L"S-1-5-21-1004336348-1177238915-682003330-1001";
const std::wstring kThirdUser = L"S-1-5-21-1004336348-1177238915-682003330-1004";
const std::wstring kWineUser = L"S-1-5-21-0-0-0-1000";

const wchar_t* Name(Protection protection) {
    switch (protection) {
        case Protection::AdministratorsOnly: return L"administrators only";
        case Protection::OwnedByAnother: return L"owned by another";
        case Protection::ChangeableByAnother: return L"changeable by another";
        case Protection::CannotBeJudged: return L"cannot be judged";
    }
    return L"?";
}

Protection Judge(const std::wstring& sddl, bool othersOfWine = false) {
    UniqueLocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, descriptor.Put(),
                                                              nullptr)) {
        ADD_FAILURE() << "not SDDL: " << ToUtf8(sddl) << ", error " << GetLastError();
        return Protection::CannotBeJudged;
    }
    return JudgeProtection(descriptor.Get(), Administrators(othersOfWine));
}

TEST(AdministratorsOnly, JudgedByOwnerAndEntriesAlone) {
    struct Case {
        const char* what;
        std::wstring sddl;
        Protection expected;
        bool othersOfWine = false;
    };
    const std::wstring adminsOnly = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    const Case cases[] = {
        {"Program Files as it ships",
         L"O:" + kTrustedInstaller + L"G:" + kTrustedInstaller + L"D:PAI(A;;FA;;;" + kTrustedInstaller +
             L")(A;CIIO;GA;;;" + kTrustedInstaller + L")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)"
             L"(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;" +
             kAllApplicationPackages + L")(A;OICIIO;GXGR;;;" + kAllApplicationPackages + L")(A;;0x1200a9;;;" +
             kAllRestrictedApplicationPackages + L")(A;OICIIO;GXGR;;;" + kAllRestrictedApplicationPackages + L")",
         Protection::AdministratorsOnly},
        {"what an elevated installer made: owned by Administrators",
         L"O:BAG:SYD:(A;;GA;;;BA)(A;;GA;;;SY)(A;;0x1200a9;;;BU)", Protection::AdministratorsOnly},
        {"owned by SYSTEM", L"O:SYG:SY" + adminsOnly, Protection::AdministratorsOnly},
        // An owner may always give itself the right to change the list back.
        {"owned by the user, though only administrators may change it", L"O:" + kUser + L"G:SY" + adminsOnly,
         Protection::OwnedByAnother},
        {"owned by Everyone", L"O:WDG:SY" + adminsOnly, Protection::OwnedByAnother},
        {"with no owner", L"G:SY" + adminsOnly, Protection::OwnedByAnother},
        {"a third user's write entry", L"O:BAG:SY" + adminsOnly + L"(A;;0x116;;;" + kThirdUser + L")",
         Protection::ChangeableByAnother},
        {"an entry inherited from the folder above counts like its own",
         L"O:BAG:SYD:AI(A;ID;FA;;;BA)(A;ID;0x1301bf;;;BU)", Protection::ChangeableByAnother},
        {"the user denied a right that Everyone is granted: someone else still has it",
         L"O:BAG:SYD:(D;;0x1301bf;;;" + kUser + L")(A;;0x1301bf;;;WD)(A;;FA;;;BA)", Protection::ChangeableByAnother},
        {"deny entries alone let nobody in",
         L"O:BAG:SYD:(D;OICI;FA;;;BU)(D;;FA;;;" + kUser + L")(A;OICI;FA;;;BA)", Protection::AdministratorsOnly},
        {"inherit-only entries apply to what is created below, not to the folder",
         L"O:BAG:SYD:(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICIIO;FA;;;" + kUser + L")",
         Protection::AdministratorsOnly},
        // Under Wine: a file another Unix user owns, mode 0755.
        {"Anonymous Logon's, on Windows", L"O:ANG:SYD:(A;;FA;;;SY)(A;;FA;;;AN)(A;;0x1200a9;;;WD)",
         Protection::OwnedByAnother},
        {"Wine's other Unix user's, mode 0755", L"O:ANG:SYD:(A;;FA;;;SY)(A;;FA;;;AN)(A;;0x1200a9;;;WD)",
         Protection::AdministratorsOnly, true},
        {"Wine's other Unix user's, mode 0777", L"O:ANG:SYD:(A;;FA;;;SY)(A;;FA;;;AN)(A;;0x1301bf;;;WD)",
         Protection::ChangeableByAnother, true},
        {"the Wine user's own", L"O:" + kWineUser + L"G:SYD:(A;;FA;;;SY)(A;;FA;;;" + kWineUser + L")(A;;0x1200a9;;;WD)",
         Protection::OwnedByAnother, true},
    };
    for (const Case& folder : cases) {
        SCOPED_TRACE(folder.what);
        EXPECT_STREQ(Name(Judge(folder.sddl, folder.othersOfWine)), Name(folder.expected));
    }
}

// Each right that changes a file or a folder, granted to Users, alone.
TEST(AdministratorsOnly, EveryChangeRightRefusesAndNoOtherRightDoes) {
    const std::pair<const wchar_t*, bool> rights[] = {
        {L"WD", true},   {L"0x2", true},  {L"0x4", true},  {L"0x10", true}, {L"0x40", true},  {L"0x100", true},
        {L"SD", true},   {L"WO", true},   {L"GW", true},   {L"GA", true},   {L"FA", true},    {L"0x1301bf", true},
        {L"0x1", false}, {L"0x8", false}, {L"0x20", false}, {L"0x80", false}, {L"RC", false}, {L"0x100000", false},
        {L"GR", false},  {L"GX", false},  {L"FR", false},  {L"FX", false},  {L"0x1200a9", false},
    };
    for (const auto& [right, changes] : rights) {
        SCOPED_TRACE(ToUtf8(right));
        const std::wstring sddl = L"O:BAG:SYD:(A;;FA;;;BA)(A;;" + std::wstring(right) + L";;;BU)";
        EXPECT_STREQ(Name(Judge(sddl)),
                     Name(changes ? Protection::ChangeableByAnother : Protection::AdministratorsOnly));
    }
}

// Owned by Administrators, with an access list of their own entry and `entry` (raw bytes: SDDL
// under Wine knows no conditional or object entries), or with no access list at all.
Protection JudgeBuilt(const std::vector<unsigned char>* entry) {
    static unsigned char administrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};  // S-1-5-32-544
    alignas(DWORD) unsigned char list[256] = {};
    const auto entries = reinterpret_cast<PACL>(list);
    InitializeAcl(entries, sizeof(list), ACL_REVISION_DS);
    AddAccessAllowedAce(entries, ACL_REVISION, FILE_ALL_ACCESS, administrators);
    if (entry != nullptr && !entry->empty()) {
        EXPECT_TRUE(AddAce(entries, ACL_REVISION_DS, MAXDWORD, const_cast<unsigned char*>(entry->data()),
                           static_cast<DWORD>(entry->size())));
    }
    SECURITY_DESCRIPTOR descriptor{};
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(&descriptor, administrators, FALSE);
    SetSecurityDescriptorDacl(&descriptor, TRUE, entry != nullptr ? entries : nullptr, FALSE);
    return JudgeProtection(&descriptor, Administrators(false));
}

TEST(AdministratorsOnly, NoListAndEntriesTheRuleCannotReadRefuse) {
    const std::vector<unsigned char> none;
    EXPECT_STREQ(Name(JudgeBuilt(&none)), Name(Protection::AdministratorsOnly));
    EXPECT_STREQ(Name(JudgeBuilt(nullptr)), Name(Protection::ChangeableByAnother)) << "no list: everyone";
    // A conditional entry decides by what the token holds beyond its SIDs: even one that grants
    // only reading is not judged. Each: its type, 28 bytes, the mask, Everyone (S-1-1-0), and
    // what a conditional entry carries after it, "artx" and an (empty) expression.
    const std::pair<BYTE, BYTE> unreadable[] = {{ACCESS_ALLOWED_CALLBACK_ACE_TYPE, 0x89},  // 0x120089: read
                                                {ACCESS_DENIED_CALLBACK_ACE_TYPE, 0xff},
                                                {ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0x89},
                                                {SYSTEM_MANDATORY_LABEL_ACE_TYPE, 0}};
    for (const auto& [type, lowMask] : unreadable) {
        SCOPED_TRACE(static_cast<int>(type));
        const std::vector<unsigned char> entry = {type, 0, 28, 0, lowMask, 0, 0x12, 0, 1, 1, 0, 0, 0, 0,
                                                  0,    1, 0,  0, 0,       0, 'a', 'r', 't', 'x', 0, 0, 0, 0};
        EXPECT_STREQ(Name(JudgeBuilt(&entry)), Name(Protection::CannotBeJudged));
    }
}

// Only a fixed local drive: not a removable disk, a network share, a CD, a RAM disk or what the
// system cannot tell.
TEST(AdministratorsOnly, OnlyAFixedLocalDriveHoldsAnInstallation) {
    for (const UINT driveType : {DRIVE_UNKNOWN, DRIVE_NO_ROOT_DIR, DRIVE_REMOVABLE, DRIVE_FIXED, DRIVE_REMOTE,
                                 DRIVE_CDROM, DRIVE_RAMDISK}) {
        EXPECT_EQ(IsFixedLocalDrive(driveType), driveType == DRIVE_FIXED) << driveType;
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
