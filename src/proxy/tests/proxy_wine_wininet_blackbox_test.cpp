// End to end against Wine's own WinINet (no override): enable, status and restore change the
// prefix's real proxy settings. Wine keeps only the proxy switch and the server text (flags 3
// read back as 2; bypass list, PAC address and auto-detect are dropped), so only those are checked.
#include <gtest/gtest.h>

#include "proxy/proxy_settings.h"
#include "proxy/proxy_snapshot.h"
#include "support/proxy/proxy_fixture.h"

namespace {

using namespace testing_support;
using namespace proxy_testing;

class WineWinInet : public ::testing::Test {
protected:
    static void SetUpTestSuite() { SelectNativeWinInet(false); }
    void SetUp() override {
        original_ = QueryProxySettings();
        ApplyProxySettings({1, L"user.example:3128", L"", L""});
    }
    void TearDown() override { ApplyProxySettings(original_); }

    ProcessResult Status() { return RunHelper({L"--proxy-status", L"--state", state_, L"--port", L"8080"}); }

    ProxySettings original_;
    TemporaryDirectory directory_;
    std::wstring state_ = directory_ / L"proxy state";
};

TEST_F(WineWinInet, EnableStatusAndRestore) {
    const ProcessResult before = Status();
    EXPECT_EQ(before.exitCode, 0u);
    EXPECT_EQ(before.output, StatusLine(false, false, false, false));

    const ProcessResult enable = RunHelper({L"--proxy-enable", L"--state", state_, L"--port", L"8080"});
    EXPECT_EQ(enable.exitCode, 0u);
    EXPECT_EQ(enable.output, EnabledLine());
    const ProxySnapshot saved = DecodeProxySnapshot(ReadFileBytes(state_));
    EXPECT_EQ(saved.appliedProxyServer, L"127.0.0.1:8080");
    EXPECT_EQ(saved.proxyServer, L"user.example:3128");
    EXPECT_EQ(saved.flags & kProxyTypeProxy, 0u);
    EXPECT_EQ(Status().output, EnabledLine());

    const ProcessResult restore = RunHelper({L"--proxy-restore", L"--state", state_});
    EXPECT_EQ(restore.exitCode, 0u);
    EXPECT_EQ(restore.output, "");
    EXPECT_FALSE(PathExists(state_));
    EXPECT_EQ(Status().output, StatusLine(false, false, false, false));
    const ProxySettings after = QueryProxySettings();
    EXPECT_EQ(after.proxyServer, L"user.example:3128");
    EXPECT_EQ(after.flags & kProxyTypeProxy, 0u);
}

}  // namespace
