// The reference client driving whole connections through the built helper, the stand-in
// core and Wine's own WinINet: what a real client and its user end up with.
#include <gtest/gtest.h>

#include "base/executable_path.h"
#include "support/file_watch.h"
#include "support/helper_process.h"
#include "support/running_processes.h"
#include "support/temp_directory.h"

namespace {

using namespace testing_support;

std::wstring ClientPath() { return DirectoryOf(HelperPath()) + L"\\keldrix-reference-client.exe"; }

// The proxy as a status verb reports it; the same line before and after means nothing was left switched.
std::string ProxyStatus() {
    TemporaryDirectory unused;
    return RunHelper({L"--proxy-status", L"--state", unused / L"none", L"--port", L"0"}).output;
}

// The value that follows `name` on the command line of the guard for this working folder.
std::wstring GuardOption(const std::wstring& workFolder, const std::wstring& name) {
    return RunningHelperOption(L"--guard", workFolder, name);
}

class ReferenceClient : public ::testing::Test {
protected:
    std::vector<std::wstring> ClientArguments(const std::wstring& seconds) const {
        return {L"--seconds", seconds, L"--work", work_.Path(), L"--proxy-state", work_ / L"proxy-state.bin"};
    }

    TemporaryDirectory work_;
    std::string proxyBefore_ = ProxyStatus();
};

TEST_F(ReferenceClient, WholeConnectionLeavesNothingBehind) {
    const ProcessResult client = RunProgram(ClientPath(), ClientArguments(L"1"), 90000);
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
    EXPECT_FALSE(PathExists(work_ / L"proxy-state.bin"));
    EXPECT_EQ(ProxyStatus(), proxyBefore_);
}

TEST_F(ReferenceClient, ClientKilledMidConnectionIsCleanedUpByHostAndGuard) {
    ChildProcess client(ClientPath(), ClientArguments(L"0"));
    ASSERT_TRUE(client.IsRunning());
    std::wstring coreId;
    ASSERT_TRUE(WaitUntil([&] { return !(coreId = GuardOption(work_.Path(), L"--core")).empty(); }, 45000))
        << "no guard was started";
    ASSERT_NE(ProxyStatus(), proxyBefore_) << "the proxy was not switched on";
    const DWORD core = std::stoul(coreId);
    ASSERT_FALSE(ProcessHasEnded(core));

    client.Terminate();

    EXPECT_TRUE(WaitUntil([&] { return ProcessHasEnded(core); }, 10000)) << "the core outlived its client";
    EXPECT_TRUE(WaitUntil([&] { return ReadFileBytes(work_ / L"done") == "done"; }, 10000));
    EXPECT_TRUE(WaitUntil([&] { return !PathExists(work_ / L"core-config.txt"); }, 10000));
    EXPECT_TRUE(WaitUntil([&] { return !PathExists(work_ / L"proxy-state.bin"); }, 10000));
    EXPECT_TRUE(WaitUntil([&] { return GuardOption(work_.Path(), L"--core").empty(); }, 10000)) << "the guard is still running";
    EXPECT_EQ(ProxyStatus(), proxyBefore_) << "the user's proxy settings were not put back";
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
