#include <gtest/gtest.h>

#include "core_config.h"
#include "status/status_records.h"
#include "status_record.h"

namespace {

// The client must understand every shape the helper writes.
TEST(ParseStatusRecord, ReadsTheHelpersThreeShapes) {
    StatusRecord record;
    ASSERT_TRUE(ParseStatusRecord(BuildStatusEvent("wait-interface", std::nullopt, false), record));
    EXPECT_EQ(record.stage, "wait-interface");
    EXPECT_FALSE(record.failed);
    EXPECT_FALSE(record.ready);

    ASSERT_TRUE(ParseStatusRecord(BuildStatusEvent("ready", std::nullopt, false), record));
    EXPECT_TRUE(record.ready);
    EXPECT_FALSE(record.failed);

    ASSERT_TRUE(ParseStatusRecord(BuildStatusEvent("core-exit", StatusFailure{"TUN_DRIVER_ERROR", 1168, 4294967295u}, true),
                                  record));
    EXPECT_EQ(record.stage, "core-exit");
    EXPECT_TRUE(record.failed);
    EXPECT_FALSE(record.ready);
    EXPECT_EQ(record.code, "TUN_DRIVER_ERROR");
    EXPECT_EQ(record.win32, 1168u);
    EXPECT_EQ(record.exitCode, 4294967295u);
}

TEST(ParseStatusRecord, RefusesWhatIsNotARecord) {
    StatusRecord record;
    EXPECT_FALSE(ParseStatusRecord("", record));
    EXPECT_FALSE(ParseStatusRecord("{\"stage\":\"rea", record));
    EXPECT_FALSE(ParseStatusRecord("{\"component\":\"proxy\"}", record));
}

TEST(ExplainCode, KnowsEveryCodeTheHostWrites) {
    for (const char* code : {"PARENT_GONE", "HELPER_ERROR", "ACCESS_DENIED", "FILE_MISSING", "TIMEOUT", "CORE_ERROR",
                             "TUN_IPV4_ADDRESS_ERROR", "TUN_IPV6_ADDRESS_ERROR", "TUN_IPV4_OPTIONS_ERROR",
                             "TUN_IPV6_OPTIONS_ERROR", "TUN_STACK_ERROR", "TUN_INTERFACE_ERROR",
                             "NETWORK_INTERFACE_ERROR", "TUN_DRIVER_ERROR", "ADDRESS_IN_USE", "DNS_CONFIG_ERROR",
                             "ROUTE_ERROR", "TUN_CONFIG_ERROR"}) {
        EXPECT_NE(ExplainCode(code), ExplainCode("NO_SUCH_CODE")) << code;
    }
}

TEST(FillCoreConfig, ReplacesEveryApiPlaceholder) {
    EXPECT_EQ(FillCoreConfig("a {api} b {api}", 9090), "a 9090 b 9090");
    EXPECT_EQ(FillCoreConfig("none", 1), "none");
}

}  // namespace
