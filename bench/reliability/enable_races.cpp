// Sixteen enables started together on one proxy state file, round after round: exactly one
// must switch the proxy and the others refuse with 183; the restore after each round must put
// the user's own settings back.
#include <memory>

#include "campaigns.h"
#include "support/helper_process.h"
#include "support/proxy/background_helper.h"
#include "support/proxy/proxy_lines.h"
#include "support/proxy/stand_in_wininet_control.h"
#include "support/temp_directory.h"
#include "user_settings.h"

namespace {

using namespace testing_support;
using namespace proxy_testing;

constexpr size_t kRoundsPerScale = 24;
constexpr int kEnablesPerRound = 16;
constexpr DWORD kRunLimitMilliseconds = 60000;

struct RaceCounts {
    uint64_t badRounds = 0, lostSettings = 0, unstarted = 0, refused = 0, other = 0;
};

class EnableRaces {
public:
    explicit EnableRaces(Campaign& campaign) : campaign_(campaign) {}

    void Run() {
        if (!InstallStandInWinInet()) {
            campaign_.Note(0, "cannot put the WinINet stand-in into system32");
            campaign_.ZeroRow("rounds that could not run", 1);
            return;
        }
        const size_t rounds = kRoundsPerScale * static_cast<size_t>(campaign_.Scale());
        for (size_t round = 0; round < rounds; ++round) RunRound(round);
        campaign_.Row("rounds of " + std::to_string(kEnablesPerRound) + " enables started together",
                      std::to_string(rounds));
        campaign_.Row("  enables refused with 183 / ended otherwise",
                      std::to_string(counts_.refused) + " / " + std::to_string(counts_.other));
        campaign_.ZeroRow("rounds with other than exactly one success", counts_.badRounds);
        campaign_.ZeroRow("rounds whose restore did not bring the user's settings back", counts_.lostSettings);
        campaign_.ZeroRow("enables that did not start", counts_.unstarted);
    }

private:
    void RunRound(size_t round) {
        const StandInSettings user = RandomUserSettings(campaign_);
        standIn_.SetSettings(user);
        DeleteFileW(state_.c_str());
        std::vector<std::unique_ptr<BackgroundHelper>> enables;
        for (int i = 0; i < kEnablesPerRound; ++i) {
            const std::wstring port = std::to_wstring(campaign_.Uniform(1024, 65535));
            enables.push_back(std::make_unique<BackgroundHelper>(
                std::vector<std::wstring>{L"--proxy-enable", L"--state", state_, L"--port", port},
                BackgroundHelper::Start::Suspended));
        }
        for (auto& enable : enables) enable->Resume();
        int successes = 0;
        for (auto& enable : enables) successes += Outcome(round, *enable);
        if (successes != 1) {
            ++counts_.badRounds;
            campaign_.Note(round, std::to_string(successes) + " enables succeeded");
        }
        RunHelper({L"--proxy-restore", L"--state", state_}, kRunLimitMilliseconds);
        if (standIn_.Settings() != user || PathExists(state_)) {
            ++counts_.lostSettings;
            campaign_.Note(round, "after the restore: " + DescribeSettings(standIn_.Settings()) +
                                      (PathExists(state_) ? ", proxy state file still there" : ""));
        }
    }

    // 1 for the enable that switched the proxy.
    int Outcome(size_t round, BackgroundHelper& enable) {
        if (!enable.Started()) {
            ++counts_.unstarted;
            return 0;
        }
        const DWORD exitCode = enable.Wait(kRunLimitMilliseconds);
        const std::string output = enable.Output();
        if (exitCode == 0 && output == EnabledLine()) return 1;
        if (exitCode == 1 && output == ErrorLine(ERROR_ALREADY_EXISTS)) {
            ++counts_.refused;
        } else {
            ++counts_.other;
            campaign_.Note(round, "an enable ended with " + std::to_string(exitCode) + ": " + output);
        }
        return 0;
    }

    Campaign& campaign_;
    StandInWinInet standIn_;
    TemporaryDirectory directory_;
    std::wstring state_ = directory_ / L"proxy state";
    RaceCounts counts_;
};

}  // namespace

void RunEnableRaces(Campaign& campaign) { EnableRaces(campaign).Run(); }
