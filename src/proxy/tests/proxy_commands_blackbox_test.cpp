// "--proxy-enable", "--proxy-restore" and the status verbs, run as real helper processes
// against the WinINet stand-in, which keeps the settings exactly and logs every call.
#include <gtest/gtest.h>

#include "proxy/proxy_logon_restore.h"
#include "proxy/proxy_mutex.h"
#include "proxy/proxy_snapshot.h"
#include "support/proxy/proxy_fixture.h"

namespace {

using namespace testing_support;
using namespace proxy_testing;

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : bytes) {
        hex.push_back(digits[byte >> 4]);
        hex.push_back(digits[byte & 0xF]);
    }
    return hex;
}

StandInSettings LocalProxySettings(const std::wstring& server, uint32_t flags = 3) {
    StandInSettings settings;
    settings.flags = flags;
    settings.proxyServer = server;
    settings.bypassList = L"<local>;localhost;127.*;[::1]";
    settings.autoConfigUrl = L"";
    return settings;
}

StandInSettings DirectSettings() {
    StandInSettings settings;
    settings.flags = 1;
    settings.proxyServer = settings.bypassList = settings.autoConfigUrl = L"";
    return settings;
}

std::vector<std::wstring> EnableArguments(const std::wstring& state, const std::wstring& port) {
    return {L"--proxy-enable", L"--state", state, L"--port", port};
}

std::vector<std::wstring> RestoreArguments(const std::wstring& state) { return {L"--proxy-restore", L"--state", state}; }

using ProxyCommands = StandInProxyTest;

TEST_F(ProxyCommands, EnableSavesTheUserSettingsBeforeChangingThem) {
    standIn_.Watch(state_);
    const ProcessResult result = Enable(L"8080");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.output, EnabledLine());

    const StandInSettings user = TypicalUserSettings();
    const std::string snapshot = EncodeProxySnapshot(
        {user.flags, L"127.0.0.1:8080", *user.proxyServer, L"", *user.autoConfigUrl});
    EXPECT_EQ(ReadFileBytes(state_), snapshot);
    EXPECT_EQ(standIn_.Settings(), LocalProxySettings(L"127.0.0.1:8080"));

    const std::string watched = " watched=" + Hex(snapshot);
    const std::vector<std::string> expected = {
        "query flagsUi=1073741837 proxyServer=\"http=corp\\u00E9.example:3128;https=corp.example:3129\" "
        "bypassList=null autoConfigUrl=\"http://wpad/wpad.dat\" watched=absent",
        "set flags=3 proxyServer=\"127.0.0.1:8080\" bypassList=\"<local>;localhost;127.*;[::1]\" autoConfigUrl=\"\"" +
            watched,
        "notify-95" + watched,
        "notify-39" + watched,
        "notify-37" + watched,
        "query flagsUi=3 proxyServer=\"127.0.0.1:8080\" bypassList=\"<local>;localhost;127.*;[::1]\" "
        "autoConfigUrl=\"\"" + watched,
    };
    EXPECT_EQ(standIn_.Log(), expected);

    // Once the snapshot is written, the restore at the next logon is registered for exactly it.
    const std::map<std::wstring, std::wstring> logonRestores = RegisteredLogonRestores();
    ASSERT_EQ(logonRestores.size(), 1u);
    EXPECT_EQ(logonRestores.begin()->first, LogonRestoreValueName(ProxyStatePathHash(state_)));
    EXPECT_EQ(logonRestores.begin()->second,
              LogonRestoreCommand(HelperPath(), *IdentityAt(state_), ResolvedProxyStatePath(state_)));
}

TEST_F(ProxyCommands, AutoDetectIsSavedAsTheSettingsDialogShowsIt) {
    // WinINet may leave auto-detect out of the plain flags while the user's checkbox is on.
    StandInSettings user = TypicalUserSettings();
    user.flags = 0x40000005u;
    user.flagsUi = 0x4000000Du;
    standIn_.SetSettings(user);
    ASSERT_EQ(Enable(L"8080").exitCode, 0u);
    EXPECT_EQ(DecodeProxySnapshot(ReadFileBytes(state_)).flags, 0x4000000Du);
    ASSERT_EQ(Restore().exitCode, 0u);
    EXPECT_EQ(SetCalls().back().rfind("set flags=1073741837 ", 0), 0u) << SetCalls().back();
    EXPECT_EQ(standIn_.Settings(), WithEmptyForNull(TypicalUserSettings()));

    // A WinINet that knows no INTERNET_PER_CONN_FLAGS_UI: the plain flags are saved.
    standIn_.SetSettings(user);
    standIn_.FailCall("query#1", 87);
    standIn_.ClearLog();
    ASSERT_EQ(Enable(L"8080").exitCode, 0u);
    EXPECT_EQ(DecodeProxySnapshot(ReadFileBytes(state_)).flags, 0x40000005u);
    const std::vector<std::string> log = standIn_.Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], "query -> error 87");
    EXPECT_EQ(log[1].rfind("query flags=1073741829 ", 0), 0u) << log[1];
}

TEST_F(ProxyCommands, HelperProxyFoundInForceIsNeverSavedAsTheUsers) {
    const std::wstring other = directory_ / L"other client's proxy state";
    const StandInSettings user = WithEmptyForNull(TypicalUserSettings());
    // Two connections overlap, each with a proxy state file of its own, and end in either order.
    for (const bool firstEndsFirst : {true, false}) {
        SCOPED_TRACE(firstEndsFirst ? "first restored first" : "second restored first");
        standIn_.SetSettings(TypicalUserSettings());
        ASSERT_EQ(Enable(L"8080").exitCode, 0u);
        ASSERT_EQ(Run(EnableArguments(other, L"9090")).exitCode, 0u);
        EXPECT_EQ(DecodeProxySnapshot(ReadFileBytes(other)).proxyServer, *user.proxyServer);
        EXPECT_EQ(RegisteredLogonRestores().size(), 2u);
        const std::wstring first = firstEndsFirst ? state_ : other;
        const std::wstring second = firstEndsFirst ? other : state_;
        EXPECT_EQ(Run(RestoreArguments(first)).exitCode, 0u);
        EXPECT_EQ(Run(RestoreArguments(second)).exitCode, 0u);
        EXPECT_EQ(standIn_.Settings(), user);
        EXPECT_TRUE(RegisteredLogonRestores().empty());
    }
    // The first connection's file is lost while its proxy is in force: with no record of the
    // user's settings left, the next connection saves a direct one.
    standIn_.SetSettings(TypicalUserSettings());
    ASSERT_EQ(Enable(L"8080").exitCode, 0u);
    ASSERT_TRUE(DeleteFileW(state_.c_str()));
    ASSERT_EQ(Run(EnableArguments(other, L"9090")).exitCode, 0u);
    EXPECT_EQ(Run(RestoreArguments(other)).exitCode, 0u);
    EXPECT_EQ(standIn_.Settings(), DirectSettings());
    // The second connection's file is lost: the first one's restore finds a helper's proxy
    // that nothing accounts for any more, and puts the user's settings back.
    standIn_.SetSettings(TypicalUserSettings());
    ASSERT_EQ(Enable(L"8080").exitCode, 0u);
    ASSERT_EQ(Run(EnableArguments(other, L"9090")).exitCode, 0u);
    ASSERT_TRUE(DeleteFileW(other.c_str()));
    EXPECT_EQ(Restore().exitCode, 0u);
    EXPECT_EQ(standIn_.Settings(), user);
}

TEST_F(ProxyCommands, RestoreGivenASnapshotIdActsOnlyOnThatFile) {
    ASSERT_EQ(Enable(L"8080").exitCode, 0u);
    const std::string snapshot = ReadFileBytes(state_);
    const FileIdentity identity = *IdentityAt(state_);
    auto restoreOnly = [&](const std::wstring& id) {
        return Run({L"--proxy-restore", L"--state", state_, L"--snapshot-id", id});
    };
    const ProcessResult another = restoreOnly(FormatSnapshotId({identity.volumeSerial, identity.fileIndex ^ 1}));
    EXPECT_EQ(another.exitCode, 0u);
    EXPECT_EQ(another.output, "");
    const ProcessResult malformed = restoreOnly(L"not a snapshot id");
    EXPECT_EQ(malformed.exitCode, 2u);
    EXPECT_EQ(malformed.output, "");
    EXPECT_EQ(ReadFileBytes(state_), snapshot);
    EXPECT_EQ(standIn_.Settings().proxyServer, L"127.0.0.1:8080");
    EXPECT_EQ(RegisteredLogonRestores().size(), 1u);

    EXPECT_EQ(restoreOnly(FormatSnapshotId(identity)).exitCode, 0u);
    EXPECT_EQ(standIn_.Settings(), WithEmptyForNull(TypicalUserSettings()));
    EXPECT_FALSE(PathExists(state_));
    EXPECT_TRUE(RegisteredLogonRestores().empty());
}

TEST_F(ProxyCommands, LowestAndHighestPortsAreAccepted) {
    for (const std::wstring port : {L"1024", L"65535"}) {
        const ProcessResult result = Enable(port);
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_EQ(result.output, EnabledLine());
        EXPECT_EQ(DecodeProxySnapshot(ReadFileBytes(state_)).appliedProxyServer, L"127.0.0.1:" + port);
        EXPECT_EQ(standIn_.Settings().proxyServer, L"127.0.0.1:" + port);
        EXPECT_EQ(Restore().exitCode, 0u);
        EXPECT_EQ(standIn_.Settings(), WithEmptyForNull(TypicalUserSettings()));
    }
}

TEST_F(ProxyCommands, EnableRefusesWhileAnythingExistsAtThePath) {
    const std::string earlier = EncodeProxySnapshot({1, L"127.0.0.1:1", L"kept", L"", L""});
    WriteFileBytes(state_, earlier);
    const ProcessResult overFile = Enable(L"8080");
    EXPECT_EQ(overFile.exitCode, 1u);
    EXPECT_EQ(overFile.output, ErrorLine(183));
    EXPECT_EQ(ReadFileBytes(state_), earlier);

    DeleteFileW(state_.c_str());
    ASSERT_TRUE(CreateDirectoryW(state_.c_str(), nullptr));
    const ProcessResult overDirectory = Enable(L"8080");
    EXPECT_EQ(overDirectory.exitCode, 1u);
    EXPECT_EQ(overDirectory.output, ErrorLine(183));

    EXPECT_EQ(standIn_.Settings(), TypicalUserSettings());
    EXPECT_TRUE(standIn_.Log().empty());
}

TEST_F(ProxyCommands, EnableExitsWith1WhenAutoDetectOrPacStaysOn) {
    standIn_.ForceFlags(8);
    const ProcessResult autoDetect = Enable(L"8080");
    EXPECT_EQ(autoDetect.exitCode, 1u);
    EXPECT_EQ(autoDetect.output, StatusLine(true, true, false, true));
    EXPECT_EQ(Restore().exitCode, 0u);

    standIn_.ForceFlags(4);
    const ProcessResult pac = Enable(L"8080");
    EXPECT_EQ(pac.exitCode, 1u);
    EXPECT_EQ(pac.output, StatusLine(true, true, true, false));
    EXPECT_TRUE(PathExists(state_));
}

TEST_F(ProxyCommands, RestoreWithNothingToRestoreDoesNothing) {
    const ProcessResult result = Restore();
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(standIn_.Settings(), TypicalUserSettings());
    EXPECT_TRUE(standIn_.Log().empty());
}

TEST_F(ProxyCommands, RestorePutsBackEverythingTheUserHad) {
    ASSERT_EQ(Enable(L"8080").exitCode, 0u);
    const ProcessResult result = Restore();
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.output, "");
    EXPECT_FALSE(PathExists(state_));
    EXPECT_TRUE(RegisteredLogonRestores().empty());
    EXPECT_EQ(standIn_.Settings(), WithEmptyForNull(TypicalUserSettings()));
    // Strings go back as empty texts, never as null pointers.
    EXPECT_EQ(SetCalls().back(),
              "set flags=1073741837 proxyServer=\"http=corp\\u00E9.example:3128;https=corp.example:3129\" "
              "bypassList=\"\" autoConfigUrl=\"http://wpad/wpad.dat\"");
}

TEST_F(ProxyCommands, RestoreKeepsAProxyTheUserTypedSince) {
    ASSERT_EQ(Enable(L"8080").exitCode, 0u);
    StandInSettings typed = LocalProxySettings(L"typed.example:8888");
    standIn_.SetSettings(typed);
    standIn_.ClearLog();
    const ProcessResult result = Restore();
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.output, "");
    EXPECT_FALSE(PathExists(state_));
    EXPECT_EQ(standIn_.Settings(), typed);
    EXPECT_TRUE(SetCalls().empty());
}

TEST_F(ProxyCommands, RestoreAfterTheUserOnlySwitchedTheProxyOff) {
    ASSERT_EQ(Enable(L"8080").exitCode, 0u);
    standIn_.SetSettings(LocalProxySettings(L"127.0.0.1:8080", 1));
    EXPECT_EQ(Restore().exitCode, 0u);
    EXPECT_FALSE(PathExists(state_));
    EXPECT_EQ(standIn_.Settings(), WithEmptyForNull(TypicalUserSettings()));
}

TEST_F(ProxyCommands, RestoreWithBit31TakesAutoDetectAsItIsNow) {
    struct Case {
        uint32_t saved;
        uint32_t current;
        uint32_t restored;
    };
    const Case cases[] = {{0x80000003u, 3u, 3u}, {0x80000003u, 3u | 8u, 11u}, {0x8000000Bu, 3u, 11u},
                          {0xC0000001u, 0xFFu, 0x40000009u}};
    for (const Case& test : cases) {
        WriteFileBytes(state_, EncodeProxySnapshot({test.saved, L"127.0.0.1:8080", L"user:1", L"b", L"u"}));
        standIn_.SetSettings(LocalProxySettings(L"127.0.0.1:8080", test.current));
        EXPECT_EQ(Restore().exitCode, 0u);
        EXPECT_EQ(standIn_.Settings().flags, test.restored) << std::hex << test.saved << " " << test.current;
        EXPECT_EQ(standIn_.Settings().proxyServer, L"user:1");
        EXPECT_FALSE(PathExists(state_));
    }
}

TEST_F(ProxyCommands, InvalidFileIsReportedAndKept) {
    const std::string invalid = EncodeProxySnapshot({1, L"127.0.0.1:8080", L"", L"", L""}) + "x";
    WriteFileBytes(state_, invalid);
    standIn_.SetSettings(LocalProxySettings(L"127.0.0.1:8080"));
    const ProcessResult result = Restore();
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_EQ(result.output, ErrorLine(13));
    EXPECT_EQ(ReadFileBytes(state_), invalid);
    EXPECT_TRUE(SetCalls().empty());
    // And the enable keeps refusing the path.
    EXPECT_EQ(Enable(L"8080").output, ErrorLine(183));
}

TEST_F(ProxyCommands, FailingSetSendsNoNotificationAndKeepsTheSnapshot) {
    standIn_.FailCall("set", 1359);
    const ProcessResult result = Enable(L"8080");
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_EQ(result.output, ErrorLine(1359));
    const std::vector<std::string> log = standIn_.Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].rfind("query ", 0), 0u);
    EXPECT_EQ(log[1].rfind("set ", 0), 0u);
    EXPECT_NE(log[1].find(" -> error 1359"), std::string::npos);
    EXPECT_EQ(standIn_.Settings(), TypicalUserSettings());
    // The snapshot stays; a restore sees that the helper's proxy is not in place and only deletes it.
    ASSERT_TRUE(PathExists(state_));
    standIn_.ClearControls();
    EXPECT_EQ(Restore().exitCode, 0u);
    EXPECT_FALSE(PathExists(state_));
    EXPECT_EQ(standIn_.Settings(), TypicalUserSettings());
}

TEST_F(ProxyCommands, FailingQueryChangesNothing) {
    standIn_.FailCall("query", 87);
    const ProcessResult result = Enable(L"8080");
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_EQ(result.output, ErrorLine(87));
    EXPECT_FALSE(PathExists(state_));
    EXPECT_TRUE(SetCalls().empty());

    const ProcessResult status = Run({L"--proxy-status", L"--state", state_, L"--port", L"8080"});
    EXPECT_EQ(status.exitCode, 1u);
    EXPECT_EQ(status.output, ErrorLine(87));
}

TEST_F(ProxyCommands, StatusVerbsReportWithoutChangingAnything) {
    standIn_.SetSettings(LocalProxySettings(L"127.0.0.1:8080"));
    const std::vector<std::pair<std::vector<std::wstring>, std::string>> cases = {
        {{L"--proxy-status", L"--state", state_, L"--port", L"8080"}, StatusLine(true, true, false, false)},
        {{L"--proxy-Enable", L"--state", state_, L"--port", L"8080"}, StatusLine(true, true, false, false)},
        {{L"--proxy-", L"--state", state_, L"--port", L"8081"}, StatusLine(true, false, false, false)},
        {{L"--proxy-restore-all", L"--state", state_}, StatusLine(true, false, false, false)},
    };
    for (const auto& [arguments, line] : cases) {
        const ProcessResult result = Run(arguments);
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_EQ(result.output, line);
    }
    EXPECT_FALSE(PathExists(state_));
    EXPECT_TRUE(SetCalls().empty());

    standIn_.SetSettings(LocalProxySettings(L"127.0.0.1:0", 8 | 4));
    EXPECT_EQ(Run({L"--proxy-status", L"--state", state_}).output, StatusLine(false, true, true, true));
    standIn_.SetSettings(LocalProxySettings(L"127.0.0.1:4294967295", 2));
    EXPECT_EQ(Run({L"--proxy-status", L"--state", state_, L"--port", L"-1"}).output,
              StatusLine(true, true, false, false));
}

}  // namespace
