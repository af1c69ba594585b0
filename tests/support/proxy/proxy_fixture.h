// What the proxy black-box tests share: the expected output lines and a fixture running
// helpers on the stand-in.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/helper_process.h"
#include "support/proxy/logon_restores.h"
#include "support/proxy/proxy_lines.h"
#include "support/proxy/stand_in_wininet_control.h"
#include "support/temp_directory.h"

namespace proxy_testing {

// Settings as the user sees them after a restore: the helper keeps unset strings as empty.
StandInSettings WithEmptyForNull(StandInSettings settings);

// A user's own settings with every kind of value: extra flag bits, a null string, non-ASCII text.
StandInSettings TypicalUserSettings();

class StandInProxyTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    // Each test starts and ends with no logon restore registered and no record of live snapshots.
    void SetUp() override;
    void TearDown() override;

    testing_support::ProcessResult Enable(const std::wstring& port);
    testing_support::ProcessResult Restore();
    testing_support::ProcessResult Run(const std::vector<std::wstring>& arguments);
    // The log lines that record a change of the settings ("set ...").
    std::vector<std::string> SetCalls() const;

    StandInWinInet standIn_;
    testing_support::TemporaryDirectory directory_;
    std::wstring state_ = directory_ / L"proxy state";
};

}  // namespace proxy_testing
