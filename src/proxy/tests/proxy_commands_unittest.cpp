#include <gtest/gtest.h>

#include "proxy/proxy_commands.h"
#include "proxy/proxy_mutex.h"

namespace {

TEST(ProxyMutexName, HashesTheUnitsFromTheStartValue) {
    EXPECT_EQ(HashProxyStatePath(L""), 1469598103934665603ull);
    EXPECT_EQ(ProxyMutexName(L""), L"Local\\KELDRIX-Proxy-1469598103934665603");
    EXPECT_EQ(HashProxyStatePath(L"C:\\p"), 5019695671651015890ull);
    EXPECT_EQ(ProxyMutexName(L"C:\\p"), L"Local\\KELDRIX-Proxy-5019695671651015890");
}

TEST(ProxyMutexName, DifferentSpellingsOfOnePathGetDifferentMutexes) {
    EXPECT_NE(ProxyMutexName(L"C:\\p"), ProxyMutexName(L"c:\\p"));
    EXPECT_NE(ProxyMutexName(L"C:\\p"), ProxyMutexName(L"C:/p"));
    // Units above 0x7F take part whole, as 16-bit values.
    EXPECT_NE(HashProxyStatePath(L"\x0143"), HashProxyStatePath(L"\x0043"));
    EXPECT_NE(HashProxyStatePath(L"\xFF43"), HashProxyStatePath(L"\x0043"));
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
