#include "support/proxy/proxy_fixture.h"

namespace proxy_testing {

using namespace testing_support;

StandInSettings WithEmptyForNull(StandInSettings settings) {
    for (auto* text : {&settings.proxyServer, &settings.bypassList, &settings.autoConfigUrl}) {
        if (!*text) *text = std::wstring();
    }
    return settings;
}

StandInSettings TypicalUserSettings() {
    StandInSettings settings;
    settings.flags = 0x40000000u | 1u | 4u | 8u;
    settings.proxyServer = L"http=corp\x00E9.example:3128;https=corp.example:3129";
    settings.bypassList = std::nullopt;
    settings.autoConfigUrl = L"http://wpad/wpad.dat";
    return settings;
}

void StandInProxyTest::SetUpTestSuite() { ASSERT_TRUE(InstallStandInWinInet()); }

void StandInProxyTest::SetUp() {
    RemoveRegisteredLogonRestores();
    RemoveSnapshotRecord();
    standIn_.SetSettings(TypicalUserSettings());
}

void StandInProxyTest::TearDown() {
    RemoveRegisteredLogonRestores();
    RemoveSnapshotRecord();
}

ProcessResult StandInProxyTest::Enable(const std::wstring& port) {
    return RunHelper({L"--proxy-enable", L"--state", state_, L"--port", port});
}

ProcessResult StandInProxyTest::Restore() { return RunHelper({L"--proxy-restore", L"--state", state_}); }

ProcessResult StandInProxyTest::Run(const std::vector<std::wstring>& arguments) { return RunHelper(arguments); }

std::vector<std::string> StandInProxyTest::SetCalls() const {
    std::vector<std::string> calls;
    for (const std::string& line : standIn_.Log()) {
        if (line.rfind("set ", 0) == 0) calls.push_back(line);
    }
    return calls;
}

}  // namespace proxy_testing
