#include <gtest/gtest.h>

#include "proxy/proxy_commands.h"
#include "proxy/proxy_logon_restore.h"
#include "proxy/proxy_mutex.h"
#include "proxy/proxy_snapshot.h"
#include "support/temp_directory.h"
#include "support/unix_side.h"

namespace {

using namespace testing_support;

std::wstring UpperCase(std::wstring text) {
    CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

std::wstring WithSlashes(std::wstring text) {
    for (wchar_t& unit : text) unit = unit == L'\\' ? L'/' : unit;
    return text;
}

// The same folder through Wine's drive Z:, the Unix root.
std::wstring OnDriveZ(const std::wstring& folder) {
    std::wstring path = L"Z:";
    for (char c : UnixFileName(folder)) path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
    return path;
}

// Every way of writing one proxy state file gives one mutex name, whether the file exists or not.
void ExpectOneMutexForEverySpelling(const TemporaryDirectory& directory, const std::wstring& file) {
    const std::wstring name = ProxyMutexName(file);
    const std::wstring link = directory / L"link to folder";
    PlantSymbolicLink(link, directory / L"Folder");
    const std::vector<std::wstring> spellings = {
        UpperCase(file),
        WithSlashes(file),
        L"\\\\?\\" + file,
        directory / L"Folder\\..\\fOLDER\\.\\Proxy-State.bin",
        link + L"\\proxy-state.bin",
        L"Folder\\PROXY-STATE.BIN",
        L".\\folder/proxy-state.bin.",
        // Another drive letter for the same folder: Wine's Z: is the Unix root.
        OnDriveZ(directory / L"Folder") + L"\\proxy-state.bin",
    };
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(directory.Path().c_str()));
    for (const std::wstring& spelling : spellings) EXPECT_EQ(ProxyMutexName(spelling), name) << spelling;
    SetCurrentDirectoryW(previous);
}

TEST(ProxyMutexName, HashesTheUnitsFromTheStartValue) {
    EXPECT_EQ(HashProxyStatePath(L""), 1469598103934665603ull);
    EXPECT_EQ(ProxyMutexName(L""), L"Local\\KELDRIX-Proxy-1469598103934665603");
    EXPECT_EQ(HashProxyStatePath(L"C:\\p"), 5019695671651015890ull);
    // The name hashes the file's key, the same for C:\p and c:/P.
    EXPECT_EQ(ProxyMutexName(L"c:/P"), L"Local\\KELDRIX-Proxy-" + FormatUnsigned(HashProxyStatePath(ProxyStateFileKey(L"C:\\p"))));
    // Units above 0x7F take part whole, as 16-bit values, and are case-folded too.
    EXPECT_NE(HashProxyStatePath(L"\x0143"), HashProxyStatePath(L"\x0043"));
    EXPECT_NE(HashProxyStatePath(L"\xFF43"), HashProxyStatePath(L"\x0043"));
    EXPECT_EQ(CaseFoldedPath(L"c:\\Prox\x00E9 State"), L"C:\\PROX\x00C9 STATE");
}

TEST(ProxyMutexName, EverySpellingOfOneFileSharesOneMutex) {
    TemporaryDirectory directory;
    ASSERT_TRUE(CreateDirectoryW((directory / L"Folder").c_str(), nullptr));
    const std::wstring file = directory / L"Folder\\proxy-state.bin";
    ExpectOneMutexForEverySpelling(directory, file);
    WriteFileBytes(file, "snapshot");
    ExpectOneMutexForEverySpelling(directory, file);
    wchar_t shortName[MAX_PATH] = {};
    if (GetShortPathNameW(file.c_str(), shortName, MAX_PATH) != 0) {
        EXPECT_EQ(ProxyMutexName(shortName), ProxyMutexName(file)) << shortName;
    }

    EXPECT_NE(ProxyMutexName(directory / L"Folder\\proxy-state.bin2"), ProxyMutexName(file));
    EXPECT_NE(ProxyMutexName(directory / L"proxy-state.bin"), ProxyMutexName(file));
    // Where no folder can be opened, the full path stands in; a path that is nothing is hashed as given.
    EXPECT_EQ(ProxyMutexName(directory / L"no folder\\x"), ProxyMutexName(directory / L"NO FOLDER/X"));
}

TEST(ProxyLines, StatusLineHasFixedKeysAndNoTerminator) {
    EXPECT_EQ(BuildProxyStatusLine({true, true, false, false}),
              "{\"component\":\"proxy\",\"stage\":\"proxy-status\",\"proxyEnabled\":true,\"proxyMatches\":true,"
              "\"pacEnabled\":false,\"autoDetect\":false}");
    EXPECT_EQ(BuildProxyStatusLine({false, false, true, true}),
              "{\"component\":\"proxy\",\"stage\":\"proxy-status\",\"proxyEnabled\":false,\"proxyMatches\":false,"
              "\"pacEnabled\":true,\"autoDetect\":true}");
}

TEST(ProxyLines, ErrorLineCarriesTheCodeUnsigned) {
    EXPECT_EQ(BuildProxyErrorLine(183),
              "{\"component\":\"proxy\",\"stage\":\"proxy-error\",\"code\":\"PROXY_CONFIG_ERROR\",\"win32\":183}");
    EXPECT_EQ(BuildProxyErrorLine(0xFFFFFFFF),
              "{\"component\":\"proxy\",\"stage\":\"proxy-error\",\"code\":\"PROXY_CONFIG_ERROR\",\"win32\":4294967295}");
}

TEST(ProxyStatus, LocalProxyAddressIsPlainDecimal) {
    EXPECT_EQ(LocalProxyAddress(8080), L"127.0.0.1:8080");
    EXPECT_EQ(LocalProxyAddress(0), L"127.0.0.1:0");
    EXPECT_EQ(LocalProxyAddress(4294967295u), L"127.0.0.1:4294967295");
}

TEST(ProxyStatus, WordsComeFromFlagBitsAndAnExactServerMatch) {
    const WideString local = L"127.0.0.1:8080";
    EXPECT_EQ(EvaluateProxyStatus({3, local, L"", L""}, local), (ProxyStatusWords{true, true, false, false}));
    EXPECT_EQ(EvaluateProxyStatus({1, local, L"", L""}, local), (ProxyStatusWords{false, true, false, false}));
    EXPECT_EQ(EvaluateProxyStatus({0xFFFFFFF3u, L"x", L"", L""}, local), (ProxyStatusWords{true, false, false, false}));
    EXPECT_EQ(EvaluateProxyStatus({4, L"", L"", L"http://pac"}, local), (ProxyStatusWords{false, false, true, false}));
    EXPECT_EQ(EvaluateProxyStatus({8, L"", L"", L""}, local), (ProxyStatusWords{false, false, false, true}));
    EXPECT_FALSE(EvaluateProxyStatus({2, L"127.0.0.1:80800", L"", L""}, local).proxyMatches);
    EXPECT_FALSE(EvaluateProxyStatus({2, L"127.0.0.1:808", L"", L""}, local).proxyMatches);
    EXPECT_FALSE(EvaluateProxyStatus({2, L"http=127.0.0.1:8080", L"", L""}, local).proxyMatches);
    EXPECT_FALSE(EvaluateProxyStatus({2, L"LOCALHOST:1", L"", L""}, L"localhost:1").proxyMatches);
}

TEST(ProxyStatus, EnableSucceedsOnlyWithTheLocalProxyAlone) {
    EXPECT_TRUE(LocalProxyAloneInForce({true, true, false, false}));
    EXPECT_FALSE(LocalProxyAloneInForce({false, true, false, false}));
    EXPECT_FALSE(LocalProxyAloneInForce({true, false, false, false}));
    EXPECT_FALSE(LocalProxyAloneInForce({true, true, true, false}));
    EXPECT_FALSE(LocalProxyAloneInForce({true, true, false, true}));
}

TEST(ProxyEnable, AppliesDirectAndProxyWithTheLocalBypassList) {
    EXPECT_EQ(EnableProxySettings(L"127.0.0.1:1024"),
              (ProxySettings{3, L"127.0.0.1:1024", L"<local>;localhost;127.*;[::1]", L""}));
}

TEST(ProxyEnable, RecognisesTheHelpersOwnSettingsWhateverThePortAndFlags) {
    for (const wchar_t* server : {L"127.0.0.1:1024", L"127.0.0.1:8080", L"127.0.0.1:65535"}) {
        ProxySettings applied = EnableProxySettings(server);
        EXPECT_TRUE(IsHelperAppliedSettings(applied)) << server;
        applied.flags = 1 | 8;
        applied.autoConfigUrl = L"http://pac";
        EXPECT_TRUE(IsHelperAppliedSettings(applied)) << server;
    }
    for (const wchar_t* server : {L"127.0.0.1:1023", L"127.0.0.1:65536", L"127.0.0.1:08080", L"127.0.0.1:8080 ",
                                  L"127.0.0.1:", L"127.0.0.2:8080", L"localhost:8080", L"http=127.0.0.1:8080"}) {
        EXPECT_FALSE(IsHelperAppliedSettings(EnableProxySettings(server))) << server;
    }
    EXPECT_FALSE(IsHelperAppliedSettings({3, L"127.0.0.1:8080", L"<local>", L""}));
    EXPECT_FALSE(IsHelperAppliedSettings({3, L"127.0.0.1:8080", L"", L""}));
}

TEST(ProxyEnable, NeverSavesAHelperProxyAsTheUsers) {
    const ProxySettings user{0x40000005u, L"corp-proxy:8080", L"*.corp", L"http://wpad/wpad.dat"};
    const ProxySettings record{0x0000000Bu, L"earlier:3128", L"", L""};
    EXPECT_EQ(SettingsToKeep(user, std::nullopt), user);
    EXPECT_EQ(SettingsToKeep(user, record), user);
    ProxySettings helper = EnableProxySettings(L"127.0.0.1:20808");
    EXPECT_EQ(SettingsToKeep(helper, record), record);
    // No record left: direct, with whatever detection and configuration script are in force.
    EXPECT_EQ(SettingsToKeep(helper, std::nullopt), (ProxySettings{1, L"", L"", L""}));
    helper.flags = 0x40000000u | 2u | 4u | 8u;
    helper.autoConfigUrl = L"http://pac";
    EXPECT_EQ(SettingsToKeep(helper, std::nullopt), (ProxySettings{0x40000000u | 1u | 4u | 8u, L"", L"", L"http://pac"}));
}

TEST(LogonRestore, CommandNamesTheSnapshotByItsIdAlone) {
    const SnapshotId id{{0xA0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0xFF}};
    const std::wstring helper = L"C:\\Program Files\\KELDRIX\\KELDRIX-Network.exe";
    const std::wstring command = LogonRestoreCommand(helper, id);
    EXPECT_EQ(command, L"\"" + helper + L"\" --proxy-restore --snapshot-id A00102030405060708090A0B0C0D0EFF");
    EXPECT_EQ(LogonRestoreValueName(id), L"KELDRIX-Proxy-A00102030405060708090A0B0C0D0EFF");
    EXPECT_EQ(StatePathOfCommand(command), std::nullopt);
    // Short whatever the state file's path: room for a helper path of 190 characters and more.
    EXPECT_LE(command.size() - helper.size(), 70u);

    // An earlier version's command named the file, and the file by its identity.
    const std::wstring earlier = L"\"" + helper + L"\" --proxy-restore --snapshot-id \"1A2B3C4D-0001000200030004\" "
                                 L"--state \"C:\\Users\\a b\\proxy-state.bin\"";
    EXPECT_EQ(StatePathOfCommand(earlier), L"C:\\Users\\a b\\proxy-state.bin");
    EXPECT_EQ(ParseEarlierSnapshotId(L"1A2B3C4D-0001000200030004"), (FileIdentity{0x1A2B3C4Du, 0x0001000200030004ull}));
    EXPECT_EQ(FormatEarlierSnapshotId({0x1A2B3C4Du, 0x0001000200030004ull}), L"1A2B3C4D-0001000200030004");
    for (const wchar_t* text : {L"1a2b3c4d-0001000200030004", L"1A2B3C4D-000100020003000", L"1A2B3C4D+0001000200030004"}) {
        EXPECT_FALSE(ParseEarlierSnapshotId(text)) << text;
    }
}

TEST(ProxyStatePath, AStreamIsAColonAfterTheDrive) {
    for (const wchar_t* path : {L"C:\\users\\a\\state:stream", L"C:\\users\\a\\state::$DATA", L"\\\\?\\C:\\a:b",
                                L"\\\\server\\share\\a:b", L"C:\\a:b\\state"}) {
        EXPECT_TRUE(NamesAStream(path)) << path;
    }
    for (const wchar_t* path : {L"C:\\users\\a\\state", L"\\\\?\\C:\\a\\b", L"z:\\state", L"\\\\server\\share\\a"}) {
        EXPECT_FALSE(NamesAStream(path)) << path;
    }
}

TEST(ProxyRestore, Bit31TakesAutoDetectFromTheCurrentSettings) {
    EXPECT_EQ(FlagsToRestore(0x00000005u, 0xFFFFFFFFu), 0x00000005u);
    EXPECT_EQ(FlagsToRestore(0x40000001u, 0x8u), 0x40000001u);
    EXPECT_EQ(FlagsToRestore(0x80000003u, 0x0u), 0x00000003u);
    EXPECT_EQ(FlagsToRestore(0x80000003u, 0x8u), 0x0000000Bu);
    // Only bit 3 of the current flags is used, and a saved bit 3 stays.
    EXPECT_EQ(FlagsToRestore(0x80000001u, 0xFFFFFFF7u), 0x00000001u);
    EXPECT_EQ(FlagsToRestore(0x8000000Bu, 0x0u), 0x0000000Bu);
    EXPECT_EQ(FlagsToRestore(0xFFFFFFFFu, 0x0u), 0x7FFFFFFFu);
}

}  // namespace
