// The reference client driving whole connections through the built helper, the stand-in
// core and Wine's own WinINet: what a real client and its user end up with.
#include <gtest/gtest.h>

#include "base/process.h"
#include "base/win32.h"
#include "support/file_watch.h"
#include "support/helper_process.h"
#include "support/running_processes.h"
#include "support/temp_directory.h"

#include <shlobj.h>  // after <windows.h>

namespace {

using namespace testing_support;

std::wstring ClientPath() { return DirectoryOf(HelperPath()) + L"\\keldrix-reference-client.exe"; }

// The proxy as a status verb reports it, against `port`; the same line before and after means
// nothing was left switched.
std::string ProxyStatus(const std::wstring& port = L"0") {
    TemporaryDirectory unused;
    return RunHelper({L"--proxy-status", L"--state", unused / L"none", L"--port", port}).output;
}

// The value that follows `name` on the command line of the guard for this working folder.
std::wstring GuardOption(const std::wstring& workFolder, const std::wstring& name) {
    return RunningHelperOption(L"--guard", workFolder, name);
}

// Where the client keeps its proxy state file unless told otherwise: %LOCALAPPDATA%\KELDRIX.
std::wstring DefaultProxyStateFolder() {
    wchar_t* localAppData = nullptr;
    const bool found = SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &localAppData));
    const std::wstring folder = found ? std::wstring(localAppData) + L"\\KELDRIX" : std::wstring();
    CoTaskMemFree(localAppData);
    return folder;
}

class ReferenceClient : public ::testing::Test {
protected:
    std::vector<std::wstring> ClientArguments(const std::wstring& seconds) const {
        return {L"--seconds", seconds, L"--work", work_.Path(), L"--proxy-state", work_ / L"proxy-state.bin"};
    }

    TemporaryDirectory work_;
    std::string proxyBefore_ = ProxyStatus();
};

// On a profile that has never connected: the client makes the folder of its proxy state file.
TEST_F(ReferenceClient, WholeConnectionLeavesNothingBehind) {
    const std::wstring stateFolder = DefaultProxyStateFolder();
    ASSERT_FALSE(stateFolder.empty());
    // What a connection that never ended may have left in this prefix goes first.
    RunHelper({L"--proxy-restore", L"--state", stateFolder + L"\\proxy-state.bin"});
    RemoveTree(stateFolder);
    proxyBefore_ = ProxyStatus();
    const ProcessResult client = RunProgram(ClientPath(), {L"--seconds", L"1", L"--work", work_.Path()}, 90000);
    EXPECT_EQ(client.exitCode, 0u) << client.output;
    const std::string& output = client.output;
    const size_t ready = output.find("state file: {\"stage\":\"ready\",\"started\":true,\"interfaceReady\":true}");
    const size_t enabled = output.find("\"proxyEnabled\":true,\"proxyMatches\":true");
    const size_t summary =
        output.find("summary: launch 0, ready, proxy-enable 0, guard 0, done marker written, proxy-restore 0");
    ASSERT_NE(ready, std::string::npos) << output;
    ASSERT_NE(enabled, std::string::npos) << output;
    ASSERT_NE(summary, std::string::npos) << output;
    EXPECT_LT(ready, enabled);
    EXPECT_LT(enabled, summary);

    EXPECT_EQ(ReadFileBytes(work_ / L"done"), "done");
    EXPECT_FALSE(PathExists(work_ / L"core-config.txt")) << "the guard deletes the core's configuration";
    EXPECT_TRUE(PathExists(stateFolder));
    EXPECT_FALSE(PathExists(stateFolder + L"\\proxy-state.bin"));
    EXPECT_EQ(ProxyStatus(), proxyBefore_);
}

TEST_F(ReferenceClient, ClientKilledMidConnectionIsCleanedUpByHostAndGuard) {
    ChildProcess client(ClientPath(), ClientArguments(L"0"));
    ASSERT_TRUE(client.IsRunning());
    std::wstring coreId;
    ASSERT_TRUE(WaitUntil([&] { return !(coreId = GuardOption(work_.Path(), L"--core")).empty(); }, 45000))
        << "no guard was started";
    const std::wstring localProxy = GuardOption(work_.Path(), L"--expected-proxy");
    ASSERT_NE(ProxyStatus(localProxy.substr(localProxy.find(L':') + 1)).find("\"proxyMatches\":true"),
              std::string::npos)
        << "the proxy was not switched to the connection's port";
    const DWORD core = std::stoul(coreId);
    ASSERT_FALSE(ProcessHasEnded(core));
    const std::string savedSettings = ReadFileBytes(work_ / L"proxy-state.bin");
    ASSERT_FALSE(savedSettings.empty());

    // One connection per proxy state file: a second client with this one connects nowhere.
    const TemporaryDirectory secondWork;
    const ProcessResult second = RunProgram(
        ClientPath(), {L"--seconds", L"1", L"--work", secondWork.Path(), L"--proxy-state", work_ / L"proxy-state.bin"},
        90000);
    EXPECT_EQ(second.exitCode, 1u) << second.output;
    EXPECT_EQ(second.output.find("--launch"), std::string::npos) << "it connected: " << second.output;
    EXPECT_EQ(second.output.find("--proxy-restore"), std::string::npos) << "it restored: " << second.output;
    EXPECT_EQ(ReadFileBytes(work_ / L"proxy-state.bin"), savedSettings);

    client.Terminate();

    EXPECT_TRUE(WaitUntil([&] { return ProcessHasEnded(core); }, 10000)) << "the core outlived its client";
    EXPECT_TRUE(WaitUntil([&] { return ReadFileBytes(work_ / L"done") == "done"; }, 10000));
    EXPECT_TRUE(WaitUntil([&] { return !PathExists(work_ / L"core-config.txt"); }, 10000));
    EXPECT_TRUE(WaitUntil([&] { return !PathExists(work_ / L"proxy-state.bin"); }, 10000));
    EXPECT_TRUE(WaitUntil([&] { return GuardOption(work_.Path(), L"--core").empty(); }, 10000)) << "the guard is still running";
    EXPECT_EQ(ProxyStatus(), proxyBefore_) << "the user's proxy settings were not put back";
}

// What an uninstaller does: every proxy any connection left switched goes back, also one whose
// proxy state file is lost.
TEST_F(ReferenceClient, ResetPutsBackEveryProxyAConnectionLeft) {
    const std::wstring lost = work_ / L"lost proxy-state.bin";
    ASSERT_EQ(RunHelper({L"--proxy-enable", L"--state", lost, L"--port", L"30808"}).exitCode, 0u);
    ASSERT_TRUE(DeleteFileW(lost.c_str()));
    ASSERT_NE(ProxyStatus(L"30808").find("\"proxyMatches\":true"), std::string::npos);
    const ProcessResult reset = RunProgram(ClientPath(), {L"--reset-proxy", L"all"}, 90000);
    EXPECT_EQ(reset.exitCode, 0u) << reset.output;
    EXPECT_NE(reset.output.find("--proxy-restore --snapshot-id all"), std::string::npos) << reset.output;
    EXPECT_EQ(reset.output.find("--launch"), std::string::npos) << "it connected: " << reset.output;
    EXPECT_EQ(ProxyStatus(), proxyBefore_);
}

TEST_F(ReferenceClient, LeftOverProxyStateThatCannotBeRestoredKeepsTheClientFromConnecting) {
    const std::string unreadable = "not a proxy state file";
    WriteFileBytes(work_ / L"proxy-state.bin", unreadable);
    const ProcessResult client = RunProgram(ClientPath(), ClientArguments(L"1"), 90000);
    EXPECT_EQ(client.exitCode, 1u) << client.output;
    EXPECT_NE(client.output.find("--proxy-restore"), std::string::npos) << client.output;
    EXPECT_EQ(client.output.find("--launch"), std::string::npos) << "it connected over the file: " << client.output;
    EXPECT_EQ(ReadFileBytes(work_ / L"proxy-state.bin"), unreadable) << "the saved settings must stay";
    EXPECT_EQ(ProxyStatus(), proxyBefore_);
}

}  // namespace
