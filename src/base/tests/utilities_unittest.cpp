#include <gtest/gtest.h>

#include <random>

#include "base/command_line.h"
#include "base/local_path.h"
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

TEST(IsLocalDrivePath, OnlyFullPathsOnADriveNamingFiles) {
    for (const wchar_t* local : {L"C:\\x", L"c:\\Users\\a b\\AppData\\Local\\Temp\\state", L"C:/run/state",
                                 L"\\\\?\\C:\\run\\state", L"C:\\run\\nullish.txt", L"C:\\run\\COM10",
                                 L"C:\\run\\con-fig.json", L"C:\\\"quoted\" name\\..\\core config.txt"}) {
        EXPECT_TRUE(IsLocalDrivePath(local)) << ToUtf8(local);
    }
    const wchar_t* const notLocal[] = {
        // Servers, in every spelling that reaches one.
        L"\\\\server\\share\\state", L"//server/share/state", L"\\\\?\\UNC\\server\\share\\state",
        L"\\\\?\\GLOBALROOT\\Device\\Mup\\server\\share\\state", L"\\??\\UNC\\server\\share\\state",
        // Pipes and devices.
        L"\\\\.\\pipe\\state", L"\\\\?\\pipe\\state", L"\\\\.\\C:\\run\\state", L"\\??\\C:\\run\\state",
        L"C:\\run\\NUL", L"C:\\run\\nul.txt", L"C:\\run\\Com1", L"C:\\run\\lpt9.log", L"C:\\run\\COM0", L"C:\\run\\COM\u00B9",
        L"C:\\run\\aux  .json", L"C:\\CONOUT$\\state",
        // Relative to a current folder, or to a drive's.
        L"state", L".\\state", L"..\\state", L"\\run\\state", L"C:state", L"C:", L"C:\\", L"\\\\?\\C:\\",
        // A stream, a verbatim path with "/" (no separator there), an empty path.
        L"C:\\run\\state:hidden", L"C:\\run\\state::$DATA", L"\\\\?\\C:/run/state", L"",
    };
    for (const wchar_t* path : notLocal) EXPECT_FALSE(IsLocalDrivePath(path)) << ToUtf8(path);
    EXPECT_FALSE(IsLocalDrivePath(std::wstring(L"C:\\run\\state\0.txt", 17)));
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
