#include <gtest/gtest.h>

#include <random>

#include "base/win32.h"
#include "launch/launcher.h"
#include "support/running_processes.h"

namespace {

OptionMap Options(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> entries) {
    OptionMap options;
    for (const auto& [name, value] : entries) options.Set(name, value);
    return options;
}

TEST(BuildHostParameters, SortsOptionsAndQuotesEveryValue) {
    const OptionMap options = Options({{L"--stop", L"C:\\run\\stop"},
                                       {L"--api", L"9090"},
                                       {L"--state", L"C:\\run\\state"},
                                       {L"--config", L"C:\\cfg\\run.json"},
                                       {L"--parent", L"4242"},
                                       {L"--done", L"C:\\run\\done"},
                                       {L"--interface", L"tun0"},
                                       {L"--created", FormatCreationTime(133500000000000000ull).c_str()}});
    EXPECT_EQ(BuildHostParameters(options),
              L"--host --api \"9090\" --config \"C:\\cfg\\run.json\" --created \"133500000000000000\" --done "
              L"\"C:\\run\\done\" --interface \"tun0\" --parent \"4242\" --state \"C:\\run\\state\" --stop "
              L"\"C:\\run\\stop\"");
}

TEST(BuildHostParameters, UnknownOptionsKeepTheirPlaceAndValuesKeepTheirBackslashes) {
    EXPECT_EQ(BuildHostParameters(Options({{L"--foo", L"bar"}, {L"--config", L"C:\\dir\\"}, {L"--zz", L""}})),
              L"--host --config \"C:\\dir\\\\\" --foo \"bar\" --zz \"\"");
}

TEST(FormatCreationTime, PlainUnsignedDecimal) {
    EXPECT_EQ(FormatCreationTime(1), L"1");
    EXPECT_EQ(FormatCreationTime(18446744073709551615ull), L"18446744073709551615");
}

// Whatever the client passed must reach the host as the same options.
TEST(BuildHostParameters, HostSplitsBackTheSameOptions) {
    std::mt19937 random(4242);
    const std::wstring alphabet = L"-a \t\"\\x\x00E9";
    for (int round = 0; round < 1000; ++round) {
        OptionMap options;
        const int count = random() % 6;
        for (int i = 0; i < count; ++i) {
            std::wstring name = L"--", value;
            for (int j = random() % 5; j > 0; --j) name.push_back(alphabet[random() % alphabet.size()]);
            for (int j = random() % 8; j > 0; --j) value.push_back(alphabet[random() % alphabet.size()]);
            if (round % 7 == 0 && i == 0) name.clear();
            options.Set(name, value);
        }
        const std::vector<std::wstring> split = testing_support::SplitArgumentTail(BuildHostParameters(options));
        ASSERT_FALSE(split.empty());
        EXPECT_EQ(split[0], L"--host");
        std::map<std::wstring, std::wstring> received;
        for (size_t i = 1; i + 1 < split.size(); i += 2) received[split[i]] = split[i + 1];
        ASSERT_EQ(split.size(), 1 + 2 * options.Entries().size()) << "round " << round;
        ASSERT_EQ(received, options.Entries()) << "round " << round;
    }
}

}  // namespace
