// Proxy verbs that end before WinINet is loaded: usage errors and the top-level failure
// handler. They never touch the proxy settings, so they run beside other tests.
#include <gtest/gtest.h>

#include "proxy/proxy_snapshot.h"
#include "support/helper_process.h"
#include "support/temp_directory.h"

namespace {

using namespace testing_support;

struct ProxyFiles {
    TemporaryDirectory directory;
    std::wstring state = directory / L"proxy state";
    std::wstring done = directory / L"done";
};

TEST(ProxyUsage, MissingOrEmptyStateExitsWith2) {
    for (const std::wstring verb : {L"--proxy-enable", L"--proxy-restore", L"--proxy-status", L"--proxy-"}) {
        for (const std::vector<std::wstring>& options :
             {std::vector<std::wstring>{L"--port", L"8080"}, std::vector<std::wstring>{L"--state", L"", L"--port", L"8080"}}) {
            std::vector<std::wstring> arguments = {verb};
            arguments.insert(arguments.end(), options.begin(), options.end());
            const ProcessResult result = RunHelper(arguments);
            EXPECT_EQ(result.exitCode, 2u);
            EXPECT_EQ(result.output, "");
        }
    }
}

TEST(ProxyUsage, EnableWithAPortOutsideTheRangeExitsWith2AndCreatesNothing) {
    ProxyFiles files;
    const std::vector<std::vector<std::wstring>> portOptions = {
        {L"--port", L"1023"}, {L"--port", L"65536"}, {L"--port", L"-1"}, {L"--port", L"0"},
        {L"--port", L""},     {},                    {L"--port", L"4294967295"}};
    for (const std::vector<std::wstring>& port : portOptions) {
        std::vector<std::wstring> arguments = {L"--proxy-enable", L"--state", files.state};
        arguments.insert(arguments.end(), port.begin(), port.end());
        const ProcessResult result = RunHelper(arguments);
        EXPECT_EQ(result.exitCode, 2u) << (port.empty() ? L"none" : port[1]).c_str();
        EXPECT_EQ(result.output, "");
        EXPECT_FALSE(PathExists(files.state));
        EXPECT_FALSE(PathExists(files.state + L".tmp"));
    }
}

TEST(ProxyUsage, UnparsablePortEndsInTheTopLevelHandler) {
    ProxyFiles files;
    for (const std::wstring port : {L"abc", L"4294967296", L"-", L" x1"}) {
        const ProcessResult result = RunHelper({L"--proxy-enable", L"--state", files.state, L"--port", port});
        EXPECT_EQ(result.exitCode, 2u);
        EXPECT_EQ(result.output, "");
        EXPECT_FALSE(PathExists(files.state));
    }
}

TEST(ProxyUsage, TopLevelHandlerLeavesTheProxyStateFileAsItWas) {
    ProxyFiles files;
    const std::string snapshot = EncodeProxySnapshot({0x8000000D, L"127.0.0.1:8080", L"user:1", L"<local>", L"u"});
    const std::string notSnapshot = "{\"stage\":\"ready\"}";
    for (const std::string& content : {snapshot, notSnapshot}) {
        for (const std::wstring verb : {L"--proxy-enable", L"--proxy-status", L"--proxy-", L"--proxy-ENABLE"}) {
            WriteFileBytes(files.state, content);
            const ProcessResult result =
                RunHelper({verb, L"--state", files.state, L"--port", L"x8080", L"--done", files.done});
            EXPECT_EQ(result.exitCode, 2u);
            EXPECT_EQ(result.output, "");
            EXPECT_EQ(ReadFileBytes(files.state), content);
            EXPECT_FALSE(PathExists(files.state + L".tmp"));
            // The done marker is still written when asked for.
            EXPECT_EQ(ReadFileBytes(files.done), "done");
            DeleteFileW(files.done.c_str());
        }
    }
}

}  // namespace
