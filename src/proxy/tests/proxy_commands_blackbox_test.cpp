// "--proxy-enable", "--proxy-restore" and the status verbs, run as real helper processes
// against the WinINet stand-in, which keeps the settings exactly and logs every call.
#include <gtest/gtest.h>

#include "proxy/proxy_logon_restore.h"
#include "proxy/proxy_mutex.h"
#include "proxy/proxy_snapshot.h"
#include "proxy/proxy_snapshot_record.h"
#include "support/proxy/path_spellings.h"
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

void SetLogonRestore(const std::wstring& name, const std::wstring& command) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kRunOnceKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                   static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

// The logon restore that an earlier version registered beside its snapshot file: named by the
// file's path hash, naming the file by its identity and its path.
void RegisterEarlierLogonRestore(const std::wstring& statePath) {
    SetLogonRestore(L"KELDRIX-Proxy-" + std::to_wstring(HashProxyStatePath(statePath)),
                    L"\"" + HelperPath() + L"\" --proxy-restore --snapshot-id \"" +
                        FormatEarlierSnapshotId(*IdentityAt(statePath)) + L"\" --state \"" + statePath + L"\"");
}

using ProxyCommands = StandInProxyTest;

TEST_F(ProxyCommands, EnableSavesTheUserSettingsBeforeChangingThem) {
    standIn_.Watch(state_);
    const ProcessResult result = Enable(L"8080");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.output, EnabledLine());

    const StandInSettings user = TypicalUserSettings();
    const ProxySnapshot saved = DecodeProxySnapshot(ReadFileBytes(state_));
    ASSERT_TRUE(saved.id);
    const std::string snapshot = EncodeProxySnapshot(
        {user.flags, L"127.0.0.1:8080", *user.proxyServer, L"", *user.autoConfigUrl, saved.id});
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

    // The record holds the snapshot under its id, and the restore at the next logon names that id.
    EXPECT_EQ(ReadSnapshotRecord(), (SnapshotRecord{{ResolvedProxyStatePath(state_), saved}}));
    const std::map<std::wstring, std::wstring> logonRestores = RegisteredLogonRestores();
    ASSERT_EQ(logonRestores.size(), 1u);
    EXPECT_EQ(logonRestores.begin()->first, LogonRestoreValueName(*saved.id));
    EXPECT_EQ(logonRestores.begin()->second, LogonRestoreCommand(HelperPath(), *saved.id));

    // A second enable gets an id of its own.
    ASSERT_EQ(Restore().exitCode, 0u);
    EXPECT_TRUE(ReadSnapshotRecord().empty());
    ASSERT_EQ(Enable(L"8080").exitCode, 0u);
    EXPECT_NE(DecodeProxySnapshot(ReadFileBytes(state_)).id, saved.id);
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

TEST_F(ProxyCommands, UserSettingsComeBackWhateverBecomesOfTheStateFiles) {
    const StandInSettings user = WithEmptyForNull(TypicalUserSettings());
    // Far too long for a logon restore that names the file, as earlier versions' did.
    const std::wstring deep = MakeLongFolder(directory_.Path(), 220);
    ASSERT_FALSE(deep.empty());
    for (const std::wstring& other : {directory_ / L"other client's proxy state", deep + L"\\proxy state"}) {
        // Two connections overlap, each with a proxy state file of its own, and end in either order.
        for (const bool firstEndsFirst : {true, false}) {
            SCOPED_TRACE(other.size() > 200 ? "a long path" : "a short path");
            SCOPED_TRACE(firstEndsFirst ? "first restored first" : "second restored first");
            standIn_.SetSettings(TypicalUserSettings());
            ASSERT_EQ(Run(EnableArguments(other, L"9090")).exitCode, 0u);
            ASSERT_EQ(Enable(L"8080").exitCode, 0u);
            EXPECT_EQ(DecodeProxySnapshot(ReadFileBytes(state_)).proxyServer, *user.proxyServer);
            EXPECT_EQ(RegisteredLogonRestores().size(), 2u);
            EXPECT_EQ(ReadSnapshotRecord().size(), 2u);
            const std::wstring first = firstEndsFirst ? other : state_;
            const std::wstring second = firstEndsFirst ? state_ : other;
            EXPECT_EQ(Run(RestoreArguments(first)).exitCode, 0u);
            EXPECT_EQ(Run(RestoreArguments(second)).exitCode, 0u);
            EXPECT_EQ(standIn_.Settings(), user);
            EXPECT_TRUE(RegisteredLogonRestores().empty());
            EXPECT_TRUE(ReadSnapshotRecord().empty());
        }
    }
    const std::wstring other = directory_ / L"other client's proxy state";
    // A file is lost while its proxy is in force. The first: the next connection saves the user's
    // settings from the record. The second: its proxy stays while it is live. Either way the
    // restores of both paths put the user's settings back, the lost one's from the record.
    for (const bool firstLost : {true, false}) {
        SCOPED_TRACE(firstLost ? "the first file lost" : "the second file lost");
        standIn_.SetSettings(TypicalUserSettings());
        ASSERT_EQ(Enable(L"8080").exitCode, 0u);
        if (firstLost) {
            ASSERT_TRUE(DeleteFileW(state_.c_str()));
        }
        ASSERT_EQ(Run(EnableArguments(other, L"9090")).exitCode, 0u);
        if (!firstLost) {
            ASSERT_TRUE(DeleteFileW(other.c_str()));
        }
        EXPECT_EQ(Restore().exitCode, 0u);
        EXPECT_EQ(standIn_.Settings().proxyServer, L"127.0.0.1:9090");
        EXPECT_EQ(Run(RestoreArguments(other)).exitCode, 0u);
        EXPECT_EQ(standIn_.Settings(), user);
        EXPECT_TRUE(ReadSnapshotRecord().empty());
        EXPECT_TRUE(RegisteredLogonRestores().empty());
    }
    // A helper's proxy that no live snapshot claims (an earlier version's, its file lost): a
    // restore finds it orphaned and puts the user's settings back.
    standIn_.SetSettings(TypicalUserSettings());
    ASSERT_EQ(Enable(L"8080").exitCode, 0u);
    standIn_.SetSettings(LocalProxySettings(L"127.0.0.1:7070"));
    EXPECT_EQ(Restore().exitCode, 0u);
    EXPECT_EQ(standIn_.Settings(), user);
    // With no record of the user's settings behind a helper's proxy (one an earlier version left
    // without a logon restore, say), an enable over it saves a direct connection, never that proxy.
    standIn_.SetSettings(LocalProxySettings(L"127.0.0.1:9090"));
    ASSERT_EQ(Enable(L"8080").exitCode, 0u);
    EXPECT_EQ(Restore().exitCode, 0u);
    EXPECT_EQ(standIn_.Settings(), DirectSettings());
}

TEST_F(ProxyCommands, RestoreGivenASnapshotIdActsOnlyOnThatSnapshot) {
    ASSERT_EQ(Enable(L"8080").exitCode, 0u);
    const std::string snapshot = ReadFileBytes(state_);
    const SnapshotId id = *DecodeProxySnapshot(snapshot).id;
    auto restoreOnly = [&](const std::wstring& text) { return Run({L"--proxy-restore", L"--snapshot-id", text}); };
    SnapshotId another = id;
    another.bytes[0] ^= 1;
    const ProcessResult other = restoreOnly(FormatSnapshotId(another));
    EXPECT_EQ(other.exitCode, 0u);
    EXPECT_EQ(other.output, "");
    for (const std::wstring& malformed : {std::wstring(L"not a snapshot id"), FormatSnapshotId(id).substr(1),
                                         FormatEarlierSnapshotId(*IdentityAt(state_))}) {
        const ProcessResult refused = restoreOnly(malformed);
        EXPECT_EQ(refused.exitCode, 2u) << malformed;  // an earlier version's id needs its --state
        EXPECT_EQ(refused.output, "");
    }
    EXPECT_EQ(ReadFileBytes(state_), snapshot);
    EXPECT_EQ(standIn_.Settings().proxyServer, L"127.0.0.1:8080");
    EXPECT_EQ(RegisteredLogonRestores().size(), 1u);

    // The id alone finds the file in the record, as the logon restore does.
    EXPECT_EQ(restoreOnly(FormatSnapshotId(id)).exitCode, 0u);
    EXPECT_EQ(standIn_.Settings(), WithEmptyForNull(TypicalUserSettings()));
    EXPECT_FALSE(PathExists(state_));
    EXPECT_TRUE(RegisteredLogonRestores().empty());

    // A stale logon restore, run after a later connection on the same path (whose file the file
    // system may give the earlier one's identity), leaves that connection alone.
    standIn_.SetSettings(TypicalUserSettings());
    ASSERT_EQ(Enable(L"8080").exitCode, 0u);
    const std::map<std::wstring, std::wstring> stale = RegisteredLogonRestores();
    ASSERT_EQ(stale.size(), 1u);
    ASSERT_EQ(Restore().exitCode, 0u);
    ASSERT_EQ(Enable(L"9090").exitCode, 0u);
    const std::string later = ReadFileBytes(state_);
    EXPECT_EQ(RunLogonRestore(stale.begin()->first, stale.begin()->second).exitCode, 0u);
    EXPECT_EQ(ReadFileBytes(state_), later);
    EXPECT_EQ(standIn_.Settings().proxyServer, L"127.0.0.1:9090");
    EXPECT_EQ(ReadSnapshotRecord().size(), 1u);
    // Left behind, as by a restore that ended between dropping its snapshot from the record and
    // removing the value, it goes at the next change of the record.
    SetLogonRestore(stale.begin()->first, stale.begin()->second);
    ASSERT_EQ(Restore().exitCode, 0u);
    EXPECT_TRUE(RegisteredLogonRestores().empty());

    // An earlier version's file, named by its identity with its path.
    WriteFileBytes(state_, EncodeProxySnapshot({1, L"127.0.0.1:8080", L"earlier:1", L"", L""}));
    standIn_.SetSettings(LocalProxySettings(L"127.0.0.1:8080"));
    FileIdentity earlier = *IdentityAt(state_);
    earlier.fileIndex ^= 1;
    EXPECT_EQ(Run({L"--proxy-restore", L"--state", state_, L"--snapshot-id", FormatEarlierSnapshotId(earlier)}).exitCode, 0u);
    EXPECT_TRUE(PathExists(state_));
    EXPECT_EQ(Run({L"--proxy-restore", L"--state", state_, L"--snapshot-id", FormatEarlierSnapshotId(*IdentityAt(state_))})
                  .exitCode,
              0u);
    EXPECT_FALSE(PathExists(state_));
    EXPECT_EQ(standIn_.Settings().proxyServer, L"earlier:1");
}

TEST_F(ProxyCommands, RestoreOfEverySnapshotPutsBackWhatAnyConnectionSaved) {
    const StandInSettings user = WithEmptyForNull(TypicalUserSettings());
    const std::wstring second = directory_ / L"second", lost = directory_ / L"lost", earlier = directory_ / L"earlier";
    // An earlier version's connection, known only by its logon restore, then two of this version's,
    // one of whose files is lost.
    WriteFileBytes(earlier, EncodeProxySnapshot({user.flags, L"127.0.0.1:7070", *user.proxyServer, L"",
                                                 *user.autoConfigUrl}));
    RegisterEarlierLogonRestore(earlier);
    standIn_.SetSettings(LocalProxySettings(L"127.0.0.1:7070"));
    ASSERT_EQ(Run(EnableArguments(lost, L"9090")).exitCode, 0u);
    ASSERT_TRUE(DeleteFileW(lost.c_str()));
    ASSERT_EQ(Enable(L"8080").exitCode, 0u);
    ASSERT_EQ(Run(EnableArguments(second, L"8081")).exitCode, 0u);
    EXPECT_EQ(DecodeProxySnapshot(ReadFileBytes(second)).proxyServer, *user.proxyServer);

    // The lost file's snapshot went from the record once its proxy was no longer in force.
    EXPECT_EQ(ReadSnapshotRecord().size(), 2u);
    EXPECT_EQ(RegisteredLogonRestores().size(), 3u);

    standIn_.ClearLog();
    const ProcessResult all = Run({L"--proxy-restore", L"--snapshot-id", L"all"});
    EXPECT_EQ(all.exitCode, 0u);
    EXPECT_EQ(all.output, "");
    EXPECT_EQ(standIn_.Settings(), user);
    for (const std::wstring& file : {state_, second, earlier}) EXPECT_FALSE(PathExists(file));
    EXPECT_TRUE(ReadSnapshotRecord().empty());
    EXPECT_TRUE(RegisteredLogonRestores().empty());
    // Nothing left: nothing to do.
    EXPECT_EQ(Run({L"--proxy-restore", L"--snapshot-id", L"all"}).exitCode, 0u);
    EXPECT_EQ(SetCalls().size(), 1u);
}

// The lock of one file is named by its folder and its name: a second name of the same file, or a
// stream of it, would get another lock, so the helper refuses such a path before it changes anything.
TEST_F(ProxyCommands, StatePathsThatOneLockCannotCoverAreRefused) {
    ASSERT_EQ(Enable(L"8080").exitCode, 0u);
    const std::wstring link = directory_ / L"second name";
    ASSERT_TRUE(CreateHardLinkW(link.c_str(), state_.c_str(), nullptr));
    const std::string before = ReadFileBytes(state_);
    standIn_.ClearLog();
    const std::pair<std::wstring, Win32Error> refusals[] = {
        {state_, ERROR_TOO_MANY_LINKS}, {link, ERROR_TOO_MANY_LINKS}, {state_ + L":stream", ERROR_BAD_PATHNAME}};
    for (const auto& [path, code] : refusals) {
        for (const auto& arguments : {EnableArguments(path, L"9090"), RestoreArguments(path)}) {
            const ProcessResult refused = Run(arguments);
            EXPECT_EQ(refused.exitCode, 2u) << ToUtf8(path);
            EXPECT_EQ(refused.output, ErrorLine(code));
        }
    }
    EXPECT_EQ(ReadFileBytes(state_), before);
    EXPECT_EQ(standIn_.Settings().proxyServer, L"127.0.0.1:8080");
    EXPECT_TRUE(standIn_.Log().empty());
    // Once the file has one name again, it is restored as ever.
    ASSERT_TRUE(DeleteFileW(link.c_str()));
    EXPECT_EQ(Restore().exitCode, 0u);
    EXPECT_EQ(standIn_.Settings(), WithEmptyForNull(TypicalUserSettings()));
    EXPECT_TRUE(ReadSnapshotRecord().empty());
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
    // The snapshot and its record stay; a restore sees that the helper's proxy is not in place and
    // only deletes them.
    ASSERT_TRUE(PathExists(state_));
    EXPECT_EQ(ReadSnapshotRecord().size(), 1u);
    standIn_.ClearControls();
    EXPECT_EQ(Restore().exitCode, 0u);
    EXPECT_FALSE(PathExists(state_));
    EXPECT_TRUE(ReadSnapshotRecord().empty());
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
