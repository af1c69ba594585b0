#include <gtest/gtest.h>

#include <stdexcept>

#include "app/dispatch.h"
#include "base/command_line.h"

namespace {

TEST(ParseArguments, TakesVerbThenPairsAndIgnoresUnpairedTail) {
    const ParsedCommandLine parsed = ParseArguments({L"--host", L"--config", L"--parent", L"42"});
    EXPECT_EQ(parsed.verb, L"--host");
    // Pairing is positional: "--parent" is the value of "--config", and "42" has no partner.
    const std::map<WideString, WideString> expected = {{L"--config", L"--parent"}};
    EXPECT_EQ(parsed.options.Entries(), expected);
}

TEST(ParseArguments, LaterPairWinsAndNamesAreKeptAsWritten) {
    const ParsedCommandLine parsed = ParseArguments({L"--x", L"--api", L"1", L"plain", L"v", L"--api", L"2"});
    const std::map<WideString, WideString> expected = {{L"--api", L"2"}, {L"plain", L"v"}};
    EXPECT_EQ(parsed.options.Entries(), expected);
}

TEST(ParseArguments, EmptyAndVerbOnly) {
    EXPECT_TRUE(ParseArguments({}).verb.empty());
    const ParsedCommandLine verbOnly = ParseArguments({L"--host"});
    EXPECT_EQ(verbOnly.verb, L"--host");
    EXPECT_TRUE(verbOnly.options.Entries().empty());
}

TEST(OptionMap, OrdersByUnsignedCodeUnitsAndReadsAbsentAsEmpty) {
    OptionMap options;
    options.Set(L"--\xFF01", L"high");
    options.Set(L"--b", L"2");
    options.Set(L"--a", L"1");
    options.Set(L"--ab", L"3");
    std::vector<WideString> keys;
    for (const auto& entry : options.Entries()) keys.push_back(entry.first);
    EXPECT_EQ(keys, (std::vector<WideString>{L"--a", L"--ab", L"--b", L"--\xFF01"}));
    EXPECT_EQ(options.Get(L"--missing"), L"");
    EXPECT_EQ(options.Entries().size(), 4u) << "looking up an absent option added it";
}

TEST(NumberConversion, FollowsWcstoulRules) {
    EXPECT_EQ(ParseUnsigned32(L"0"), 0u);
    EXPECT_EQ(ParseUnsigned32(L"  \t42"), 42u);
    EXPECT_EQ(ParseUnsigned32(L"+7"), 7u);
    EXPECT_EQ(ParseUnsigned32(L"123abc"), 123u);
    EXPECT_EQ(ParseUnsigned32(L"4294967295"), 4294967295u);
    EXPECT_EQ(ParseUnsigned32(L"-1"), 4294967295u);
    EXPECT_EQ(ParseUnsigned32(L"-4294967295"), 1u);
    EXPECT_EQ(ParseUnsigned32(L"007"), 7u);
    EXPECT_EQ(ParseUnsigned64(L"18446744073709551615"), 18446744073709551615ull);
    EXPECT_EQ(ParseUnsigned64(L"133500000000000000"), 133500000000000000ull);
}

TEST(NumberConversion, FailsWithoutDigitsOrBeyondRange) {
    EXPECT_THROW(ParseUnsigned32(L""), std::invalid_argument);
    EXPECT_THROW(ParseUnsigned32(L"abc"), std::invalid_argument);
    EXPECT_THROW(ParseUnsigned32(L"-"), std::invalid_argument);
    EXPECT_THROW(ParseUnsigned32(L" + 1"), std::invalid_argument);
    EXPECT_THROW(ParseUnsigned32(L"4294967296"), std::out_of_range);
    EXPECT_THROW(ParseUnsigned32(L"-4294967296"), std::out_of_range);
    EXPECT_THROW(ParseUnsigned32(L"99999999999999999999999"), std::out_of_range);
    EXPECT_THROW(ParseUnsigned64(L"18446744073709551616"), std::out_of_range);
}

TEST(NumberConversion, FormatsLikeToWstringAndParsesBack) {
    for (uint64_t value : {0ull, 7ull, 10ull, 65535ull, 4294967296ull, 133500000000000000ull, ~0ull}) {
        EXPECT_EQ(FormatUnsigned(value), std::to_wstring(value));
        EXPECT_EQ(ParseUnsigned64(FormatUnsigned(value)), value);
    }
}

OptionMap ConnectionOptions() {
    OptionMap options;
    for (const wchar_t* name : {L"--config", L"--parent", L"--api", L"--interface", L"--state", L"--stop", L"--done"}) {
        options.Set(name, L"x");
    }
    return options;
}

TEST(SelectHandler, CapabilitiesNeedNoOptions) {
    OptionMap none;
    EXPECT_EQ(SelectHandler(L"--network-capabilities", none), Handler::NetworkCapabilities);
    OptionMap unrelated = ParseArguments({L"v", L"--state", L"s", L"--foo", L"bar"}).options;
    EXPECT_EQ(SelectHandler(L"--network-capabilities", unrelated), Handler::NetworkCapabilities);
}

TEST(SelectHandler, ConnectionOptionCheckComesBeforeUnknownVerbs) {
    OptionMap full = ConnectionOptions();
    EXPECT_EQ(SelectHandler(L"--whatever", full), Handler::Unrecognised);
    EXPECT_EQ(SelectHandler(L"--Network-capabilities", full), Handler::Unrecognised);
    OptionMap emptyDone = ConnectionOptions();
    emptyDone.Set(L"--done", L"");
    EXPECT_EQ(SelectHandler(L"--whatever", emptyDone), Handler::RequiredOptionMissing);
}

}  // namespace
