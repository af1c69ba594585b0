// Real helper processes racing on one proxy state file, and helpers killed half-way.
#include <gtest/gtest.h>

#include <cctype>
#include <memory>

#include "proxy/proxy_mutex.h"
#include "proxy/proxy_snapshot.h"
#include "proxy/proxy_snapshot_record.h"
#include "support/proxy/background_helper.h"
#include "support/proxy/path_spellings.h"
#include "support/proxy/proxy_fixture.h"

namespace {

using namespace testing_support;
using namespace proxy_testing;

using ProxyConcurrency = StandInProxyTest;

std::vector<std::wstring> EnableArguments(const std::wstring& state, const std::wstring& port) {
    return {L"--proxy-enable", L"--state", state, L"--port", port};
}

TEST_F(ProxyConcurrency, ManyEnablesAtOnceLetExactlyOneThroughWhateverTheSpelling) {
    const std::vector<std::wstring> spellings = SpellingsOf(state_);
    std::vector<std::unique_ptr<BackgroundHelper>> runs;
    for (int i = 0; i < 8; ++i) {
        const std::wstring& spelling = spellings[static_cast<size_t>(i) % spellings.size()];
        runs.push_back(std::make_unique<BackgroundHelper>(EnableArguments(spelling, std::to_wstring(8080 + i)),
                                                          BackgroundHelper::Start::Suspended));
        ASSERT_TRUE(runs.back()->Started());
    }
    for (auto& run : runs) run->Resume();
    int succeeded = 0;
    int refused = 0;
    for (auto& run : runs) {
        const DWORD exitCode = run->Wait(60000);
        if (exitCode == 0 && run->Output() == EnabledLine()) ++succeeded;
        if (exitCode == 1 && run->Output() == ErrorLine(183)) ++refused;
    }
    EXPECT_EQ(succeeded, 1);
    EXPECT_EQ(refused, 7);
    const ProxySnapshot snapshot = DecodeProxySnapshot(ReadFileBytes(state_));
    EXPECT_EQ(snapshot.proxyServer, *TypicalUserSettings().proxyServer);
    EXPECT_EQ(standIn_.Settings().proxyServer, snapshot.appliedProxyServer);
    EXPECT_EQ(SetCalls().size(), 1u);
}

TEST_F(ProxyConcurrency, AbandonedMutexIsTakenOver) {
    standIn_.HangIn("query");
    BackgroundHelper holder(EnableArguments(state_, L"8080"));
    ASSERT_TRUE(WaitForHang(standIn_, "query", 30000));
    // A handle kept open here keeps the mutex alive, so the holder's death abandons it
    // rather than destroying it.
    const HANDLE observer = OpenMutexW(SYNCHRONIZE, FALSE, ProxyMutexName(state_).c_str());
    ASSERT_NE(observer, nullptr);
    holder.Terminate();
    standIn_.ClearControls();
    EXPECT_FALSE(PathExists(state_));
    const ProcessResult result = Enable(L"8080");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.output, EnabledLine());
    CloseHandle(observer);
}

TEST_F(ProxyConcurrency, WaiterGivesUpAfter15SecondsWith1460) {
    standIn_.HangIn("query");
    BackgroundHelper holder(EnableArguments(state_, L"8080"));
    ASSERT_TRUE(WaitForHang(standIn_, "query", 30000));
    standIn_.ClearControls();
    const ULONGLONG started = GetTickCount64();
    const ProcessResult waiter = Enable(L"8081");
    const ULONGLONG waited = GetTickCount64() - started;
    EXPECT_EQ(waiter.exitCode, 1u);
    EXPECT_EQ(waiter.output, ErrorLine(1460));
    // The limit is the design's 15 s: a waiter that gave up early would be a fault.
    EXPECT_GE(waited, 14900u);
    const ProcessResult restoreWaiter = Restore();
    EXPECT_EQ(restoreWaiter.output, ErrorLine(1460));
    EXPECT_EQ(standIn_.Settings(), TypicalUserSettings());
}

TEST_F(ProxyConcurrency, RacingEnablesAndRestoresNeverLoseTheUserSettings) {
    for (int round = 0; round < 30; ++round) {
        StandInSettings user = TypicalUserSettings();
        user.proxyServer = L"user" + std::to_wstring(round) + L".example:3128";
        user.flags = static_cast<uint32_t>(round) | 0x100u;
        standIn_.SetSettings(user);
        std::vector<std::unique_ptr<BackgroundHelper>> runs;
        for (int i = 0; i < 6; ++i) {
            if (i % 2 == 0) {
                runs.push_back(std::make_unique<BackgroundHelper>(EnableArguments(state_, std::to_wstring(9000 + i))));
            } else {
                runs.push_back(std::make_unique<BackgroundHelper>(
                    std::vector<std::wstring>{L"--proxy-restore", L"--state", state_}));
            }
        }
        for (size_t i = 0; i < runs.size(); ++i) {
            const DWORD exitCode = runs[i]->Wait(60000);
            const std::string output = runs[i]->Output();
            if (i % 2 == 0) {
                // The status is read after the mutex is released, so a restore may already have
                // put the user's settings back: then the enable reports them and exits with 1.
                const bool statusLine = output.rfind("{\"component\":\"proxy\",\"stage\":\"proxy-status\",", 0) == 0;
                EXPECT_TRUE((exitCode == 0 && output == EnabledLine()) || (exitCode == 1 && statusLine) ||
                            (exitCode == 1 && output == ErrorLine(183)))
                    << "round " << round << ": " << exitCode << " " << output;
            } else {
                EXPECT_EQ(exitCode, 0u) << "round " << round << ": " << output;
            }
        }
        EXPECT_EQ(Restore().exitCode, 0u);
        EXPECT_FALSE(PathExists(state_));
        ASSERT_EQ(standIn_.Settings(), WithEmptyForNull(user)) << "round " << round;
    }
}

// Runs the helpers all at once: started suspended, resumed together. Gives their exit codes.
std::vector<DWORD> RunTogether(const std::vector<std::vector<std::wstring>>& commands) {
    std::vector<std::unique_ptr<BackgroundHelper>> runs;
    for (const auto& arguments : commands) {
        runs.push_back(std::make_unique<BackgroundHelper>(arguments, BackgroundHelper::Start::Suspended));
    }
    for (auto& run : runs) run->Resume();
    std::vector<DWORD> exitCodes;
    for (auto& run : runs) exitCodes.push_back(run->Wait(60000));
    return exitCodes;
}

// The record lists exactly the snapshots in these files, each under its own id.
void ExpectRecordOf(const std::vector<std::wstring>& files) {
    const SnapshotRecord record = ReadSnapshotRecord();
    EXPECT_EQ(record.size(), files.size());
    for (const std::wstring& file : files) {
        const std::optional<SnapshotId> id = PathExists(file) ? SnapshotIdAt(file) : std::nullopt;
        ASSERT_TRUE(id) << "no snapshot in " << ToUtf8(file);
        const LiveSnapshot* live = FindLiveSnapshot(record, *id);
        EXPECT_TRUE(live != nullptr && ProxyMutexName(live->statePath) == ProxyMutexName(file)) << ToUtf8(file);
    }
    EXPECT_EQ(RegisteredLogonRestores().size(), files.size());
}

// Every enable and restore reads the record of live snapshots and the user's settings, then changes
// them: racing on different files (each with a lock of its own), only the session-wide lock keeps
// one from losing what another wrote.
TEST_F(ProxyConcurrency, EnablesAndRestoresOnDifferentFilesKeepTheRecordAndTheUserSettings) {
    std::vector<std::wstring> first, second;
    for (int i = 0; i < 3; ++i) {
        first.push_back(directory_ / (L"first client " + std::to_wstring(i)));
        second.push_back(directory_ / (L"second client " + std::to_wstring(i)));
    }
    auto commands = [](const std::vector<std::wstring>& files, const std::wstring& verb) {
        std::vector<std::vector<std::wstring>> all;
        for (size_t i = 0; i < files.size(); ++i) {
            all.push_back({verb, L"--state", files[i], L"--port", std::to_wstring(9000 + i)});
        }
        return all;
    };
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        StandInSettings user = WithEmptyForNull(TypicalUserSettings());
        user.proxyServer = L"user" + std::to_wstring(round) + L".example:3128";
        standIn_.SetSettings(user);
        for (const DWORD exitCode : RunTogether(commands(first, L"--proxy-enable"))) EXPECT_LE(exitCode, 1u);
        ExpectRecordOf(first);
        std::vector<std::vector<std::wstring>> mixed = commands(first, L"--proxy-restore");
        for (auto& enable : commands(second, L"--proxy-enable")) mixed.push_back(enable);
        for (const DWORD exitCode : RunTogether(mixed)) EXPECT_LE(exitCode, 1u);
        ExpectRecordOf(second);
        for (const DWORD exitCode : RunTogether(commands(second, L"--proxy-restore"))) EXPECT_EQ(exitCode, 0u);
        EXPECT_TRUE(ReadSnapshotRecord().empty());
        EXPECT_TRUE(RegisteredLogonRestores().empty());
        for (const auto& files : {first, second}) {
            for (const std::wstring& file : files) EXPECT_FALSE(PathExists(file));
        }
        ASSERT_EQ(standIn_.Settings(), user);
    }
}

// Every call an enable makes, in order; the helper is killed while the stand-in hangs in one.
class ProxyCrashSafety : public StandInProxyTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ProxyCrashSafety, KilledEnableLosesNothing) {
    const std::string call = GetParam();
    standIn_.HangIn(call);
    BackgroundHelper enable(EnableArguments(state_, L"8080"));
    ASSERT_TRUE(WaitForHang(standIn_, call.substr(0, call.find('#')), 30000)) << call;
    enable.Terminate();
    standIn_.ClearControls();

    const StandInSettings user = TypicalUserSettings();
    const bool untouched = standIn_.Settings() == user && !PathExists(state_);
    bool validSnapshot = false;
    if (PathExists(state_)) {
        const ProxySnapshot snapshot = DecodeProxySnapshot(ReadFileBytes(state_));
        validSnapshot = snapshot.flags == user.flags && snapshot.proxyServer == *user.proxyServer;
        // The record holds it before anything changes.
        const SnapshotRecord record = ReadSnapshotRecord();
        EXPECT_TRUE(snapshot.id && FindLiveSnapshot(record, *snapshot.id)) << call;
    }
    EXPECT_TRUE(untouched || validSnapshot) << call;

    const ProcessResult restore = Restore();
    EXPECT_EQ(restore.exitCode, 0u) << restore.output;
    EXPECT_FALSE(PathExists(state_));
    const StandInSettings after = standIn_.Settings();
    EXPECT_TRUE(after == user || after == WithEmptyForNull(user)) << call;
    EXPECT_TRUE(ReadSnapshotRecord().empty()) << call;
}

INSTANTIATE_TEST_SUITE_P(EveryCallOfAnEnable, ProxyCrashSafety,
                         ::testing::Values("query#1", "set", "notify-95", "notify-39", "notify-37", "query#2"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

}  // namespace
