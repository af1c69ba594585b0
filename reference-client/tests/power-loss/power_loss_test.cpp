// The reference client after a power loss. The first test leaves a connection running with
// the system proxy switched on, and a second client's proxy on top with a proxy state file of
// its own; run-with-power-loss.sh then stops the whole Wine session, so that every process
// ends at once with no chance to clean up (the guard too); the second test does what Windows
// does at the next logon (Wine does not), running the registered RunOnce restores, then starts
// the client again and looks for the user's own settings.
// Each test is one half: run them through the script, never alone.
#include <gtest/gtest.h>

#include "base/process.h"
#include "support/file_watch.h"
#include "support/helper_process.h"
#include "support/proxy/logon_restores.h"
#include "support/proxy/stand_in_wininet_control.h"
#include "support/running_processes.h"
#include "support/temp_directory.h"

namespace {

using namespace testing_support;
using namespace proxy_testing;

constexpr DWORD kConnectedWithin = 60000;
constexpr DWORD kWholeConnectionWithin = 120000;

std::wstring ClientPath() { return DirectoryOf(HelperPath()) + L"\\keldrix-reference-client.exe"; }

// The folder both halves share, named by the script.
std::wstring SharedFolder() {
    wchar_t folder[MAX_PATH * 4] = {};
    const DWORD length = GetEnvironmentVariableW(L"KELDRIX_POWER_LOSS_FOLDER", folder, MAX_PATH * 4);
    return length > 0 && length < MAX_PATH * 4 ? std::wstring(folder, length) : std::wstring();
}

// Settings a fresh profile never has, and none of them null, so that "back" compares exactly.
StandInSettings DistinctiveUserSettings() {
    StandInSettings settings;
    settings.flags = 0x40000000u | 1u | 4u | 8u;
    settings.proxyServer = L"http=proxy.corp\x00E9.example:3128;https=proxy.corp.example:3129";
    settings.bypassList = L"*.corp.example;<local>";
    settings.autoConfigUrl = L"http://wpad.corp.example/wpad.dat";
    return settings;
}

// The helpers run against the WinINet stand-in, whose settings file lives in the shared folder
// and so outlives the session. The override stays: the prefix is this test's alone.
class PowerLoss : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(folder_.empty()) << "KELDRIX_POWER_LOSS_FOLDER is not set: run run-with-power-loss.sh";
        ASSERT_TRUE(InstallStandInWinInet());
        SelectNativeWinInet(true);
        SetEnvironmentVariableW(L"KELDRIX_STAND_IN_SETTINGS", settings_.c_str());
        SetEnvironmentVariableW(L"KELDRIX_STAND_IN_LOG", (folder_ + L"\\wininet calls.log").c_str());
    }

    StandInSettings Settings() const { return ParseStandInSettings(ReadFileBytes(settings_)); }

    std::vector<std::wstring> ClientArguments(const std::wstring& seconds) const {
        return {L"--seconds", seconds, L"--work", work_, L"--proxy-state", proxyState_};
    }

    // The client outlives this program: only the end of the session ends it.
    bool StartClientToOutliveTheTest() const {
        SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
        const HANDLE output = CreateFileW((folder_ + L"\\first client output.txt").c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ, &inheritable, CREATE_ALWAYS, 0, nullptr);
        if (output == INVALID_HANDLE_VALUE) return false;
        STARTUPINFOW startup = StartupWritingTo(output);
        PROCESS_INFORMATION client{};
        const bool started = CreateTestProcess(ClientPath(), L"\"" + ClientPath() + L"\" " +
                                               JoinArguments(ClientArguments(L"0")), startup, client,
                                               {.inheritHandles = true});
        CloseHandle(output);
        if (!started) return false;
        CloseHandle(client.hThread);
        CloseHandle(client.hProcess);
        return true;
    }

    std::wstring folder_ = SharedFolder();
    std::wstring work_ = folder_ + L"\\work";
    std::wstring proxyState_ = folder_ + L"\\proxy-state.bin";
    std::wstring otherProxyState_ = folder_ + L"\\work\\another client's proxy-state.bin";
    std::wstring settings_ = folder_ + L"\\wininet settings";
};

// The first half only sets the scene; what the power loss left is the second half's to check.
TEST_F(PowerLoss, FirstHalfConnectsWithTheProxyOn) {
    WriteFileBytes(settings_, FormatStandInSettings(DistinctiveUserSettings()));
    ASSERT_TRUE(CreateDirectoryW(work_.c_str(), nullptr));
    ASSERT_TRUE(StartClientToOutliveTheTest());
    // The guard is the last thing a connection starts, after the proxy is switched on.
    ASSERT_TRUE(WaitUntil([&] { return !RunningHelperOption(L"--guard", work_, L"--core").empty(); },
                          kConnectedWithin))
        << "no guard was started";
    const ProcessResult other =
        RunHelper({L"--proxy-enable", L"--state", otherProxyState_, L"--port", L"30808"});
    ASSERT_EQ(other.exitCode, 0u) << other.output;
}

TEST_F(PowerLoss, LogonRestoresPutTheUserSettingsBackThenTheClientConnects) {
    ASSERT_TRUE(ProcessIdsByImageName(L"KELDRIX-Network.exe").empty()) << "a helper outlived the session";
    ASSERT_TRUE(ProcessIdsByImageName(L"sing-box.exe").empty()) << "a core outlived the session";
    ASSERT_TRUE(PathExists(proxyState_));
    ASSERT_TRUE(PathExists(otherProxyState_));
    ASSERT_EQ(Settings().proxyServer, L"127.0.0.1:30808") << "the second proxy was not left switched on";
    // The power went as the client was disconnecting: its stop marker and the host's done
    // marker are there too, beside the last record.
    WriteFileBytes(work_ + L"\\stop", "");
    WriteFileBytes(work_ + L"\\done", "done");

    // The next logon: Windows deletes each RunOnce value and runs its command.
    const std::map<std::wstring, std::wstring> logonRestores = RegisteredLogonRestores();
    EXPECT_EQ(logonRestores.size(), 2u);
    for (const auto& [name, command] : logonRestores) {
        const ProcessResult restore = RunLogonRestore(name, command);
        EXPECT_EQ(restore.exitCode, 0u) << restore.output;
    }
    EXPECT_EQ(Settings(), DistinctiveUserSettings());
    EXPECT_FALSE(PathExists(proxyState_));
    EXPECT_FALSE(PathExists(otherProxyState_));
    EXPECT_TRUE(RegisteredLogonRestores().empty());

    // The client, started again, finds nothing left to put back and connects.
    const ProcessResult client = RunProgram(ClientPath(), ClientArguments(L"1"), kWholeConnectionWithin);
    const std::string& output = client.output;
    EXPECT_EQ(client.exitCode, 0u) << "the client's output:\n" << output;
    EXPECT_NE(output.find("summary: launch 0, ready, proxy-enable 0, guard 0, done marker written, proxy-restore 0"),
              std::string::npos);
    EXPECT_EQ(Settings(), DistinctiveUserSettings());
    EXPECT_FALSE(PathExists(proxyState_));
    EXPECT_TRUE(RegisteredLogonRestores().empty());
}

}  // namespace
