#include <gtest/gtest.h>

#include "status/status_records.h"

namespace {

TEST(BuildStatusEvent, ProgressRecordIsStageAlone) {
    EXPECT_EQ(BuildStatusEvent("start-core", std::nullopt, true), "{\"stage\":\"start-core\"}");
    EXPECT_EQ(BuildStatusEvent("wait-interface", std::nullopt, false), "{\"stage\":\"wait-interface\"}");
}

TEST(BuildStatusEvent, ReadyGroupOnlyForExactlyReady) {
    EXPECT_EQ(BuildStatusEvent("ready", std::nullopt, false),
              "{\"stage\":\"ready\",\"started\":true,\"interfaceReady\":true}");
    EXPECT_EQ(BuildStatusEvent("Ready", std::nullopt, false), "{\"stage\":\"Ready\"}");
    EXPECT_EQ(BuildStatusEvent("ready ", std::nullopt, false), "{\"stage\":\"ready \"}");
    EXPECT_EQ(BuildStatusEvent("read", std::nullopt, false), "{\"stage\":\"read\"}");
}

TEST(BuildStatusEvent, FailureGroupInKeyOrder) {
    EXPECT_EQ(BuildStatusEvent("job-create", StatusFailure{"HELPER_ERROR", 5, 0}, false),
              "{\"stage\":\"job-create\",\"ipv6Disabled\":false,\"failed\":true,\"code\":\"HELPER_ERROR\","
              "\"win32\":5,\"exitCode\":0}");
    EXPECT_EQ(BuildStatusEvent("core-exit", StatusFailure{"TUN_DRIVER_ERROR", 0, 1}, true),
              "{\"stage\":\"core-exit\",\"ipv6Disabled\":true,\"failed\":true,\"code\":\"TUN_DRIVER_ERROR\","
              "\"win32\":0,\"exitCode\":1}");
}

TEST(BuildStatusEvent, NumbersAreUnsignedDecimal) {
    const ByteString event = BuildStatusEvent("core-exit", StatusFailure{"CORE_ERROR", 0x80000000u, 0xFFFFFFFFu}, false);
    EXPECT_NE(event.find("\"win32\":2147483648,\"exitCode\":4294967295}"), ByteString::npos) << event;
}

TEST(BuildStatusEvent, EmptyCodeStillSelectsTheFailureGroup) {
    EXPECT_EQ(BuildStatusEvent("x", StatusFailure{"", 0, 0}, false),
              "{\"stage\":\"x\",\"ipv6Disabled\":false,\"failed\":true,\"code\":\"\",\"win32\":0,\"exitCode\":0}");
}

TEST(BuildStatusEvent, FailureGroupComesBeforeReadyGroup) {
    EXPECT_EQ(BuildStatusEvent("ready", StatusFailure{"TIMEOUT", 0, 0}, false),
              "{\"stage\":\"ready\",\"ipv6Disabled\":false,\"failed\":true,\"code\":\"TIMEOUT\",\"win32\":0,"
              "\"exitCode\":0,\"started\":true,\"interfaceReady\":true}");
}

}  // namespace
