#include <gtest/gtest.h>

#include <random>

#include "base/command_line.h"
#include "base/process.h"
#include "base/system_info.h"
#include "base/win32.h"
#include "support/running_processes.h"

namespace {

TEST(QuoteArgument, MatchesTheQuotingTable) {
    EXPECT_EQ(QuoteArgument(L""), L"\"\"");
    EXPECT_EQ(QuoteArgument(L"abc"), L"\"abc\"");
    EXPECT_EQ(QuoteArgument(L"a b"), L"\"a b\"");
    EXPECT_EQ(QuoteArgument(L"a\"b"), L"\"a\\\"b\"");
    EXPECT_EQ(QuoteArgument(L"a\\b"), L"\"a\\b\"");
    EXPECT_EQ(QuoteArgument(L"a\\\"b"), L"\"a\\\\\\\"b\"");
    EXPECT_EQ(QuoteArgument(L"C:\\dir\\"), L"\"C:\\dir\\\\\"");
    EXPECT_EQ(QuoteArgument(L"\\\\"), L"\"\\\\\\\\\"");
}

// The system's own splitter must give every quoted value back unchanged.
TEST(QuoteArgument, RoundTripsThroughCommandLineToArgvW) {
    std::mt19937 random(20261207);
    const std::wstring alphabet = L"ab \t\\\"\\\"x\x00E9\x4E2D";
    for (int round = 0; round < 2000; ++round) {
        std::wstring value;
        const size_t length = random() % 12;
        for (size_t i = 0; i < length; ++i) value.push_back(alphabet[random() % alphabet.size()]);
        const std::vector<std::wstring> split =
            testing_support::SplitArgumentTail(QuoteArgument(value) + L" " + QuoteArgument(L"next"));
        ASSERT_EQ(split.size(), 2u) << "round " << round;
        ASSERT_EQ(split[0], value) << "round " << round;
        ASSERT_EQ(split[1], L"next");
    }
}

TEST(DirectoryOf, CutsAtTheLastSeparatorOfEitherKind) {
    EXPECT_EQ(DirectoryOf(L"C:\\apps\\KELDRIX-Network.exe"), L"C:\\apps");
    EXPECT_EQ(DirectoryOf(L"C:\\apps/sub\\helper.exe"), L"C:\\apps/sub");
    EXPECT_EQ(DirectoryOf(L"C:/apps/helper.exe"), L"C:/apps");
    EXPECT_EQ(DirectoryOf(L"helper.exe"), L"helper.exe");
    EXPECT_EQ(DirectoryOf(L""), L"");
}

TEST(GetExecutablePath, NamesTheRunningProgram) {
    const std::wstring path = GetExecutablePath();
    ASSERT_GE(path.size(), 4u);
    EXPECT_EQ(path.substr(path.size() - 4), L".exe");
    EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(DisabledComponents, OnlyBit4DisablesIpv6) {
    for (unsigned long value : {0x10ul, 0x11ul, 0xFFul, 0xFFFFFFFFul}) EXPECT_TRUE(DisabledComponentsDisableIpv6(value));
    for (unsigned long value : {0x0ul, 0x20ul, 0x01ul, 0x0Ful, 0xFFFFFFEFul}) {
        EXPECT_FALSE(DisabledComponentsDisableIpv6(value));
    }
}

}  // namespace
