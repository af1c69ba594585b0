// Sixteen enables started together, round after round, eight on each of two proxy state files
// (two clients, the second's at the end of a long path), each naming its file in a spelling of
// its own: exactly one per file must save a snapshot and switch the proxy, the others refuse
// with 183; the restores of both files after each round, in either order, must put the user's
// own settings back and leave no logon restore and no live snapshot in the helper's record,
// also when one of the files was lost before them.
#include <memory>

#include "campaigns.h"
#include "proxy/proxy_snapshot_record.h"
#include "support/helper_process.h"
#include "support/proxy/background_helper.h"
#include "support/proxy/logon_restores.h"
#include "support/proxy/path_spellings.h"
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
constexpr double kLostFileChance = 0.25;
constexpr size_t kLongFolderUnits = 220;

struct RaceCounts {
    uint64_t badRounds = 0, lostSettings = 0, unstarted = 0, refused = 0, other = 0, reportedOtherProxy = 0,
             lostFiles = 0;
};

class EnableRaces {
public:
    explicit EnableRaces(Campaign& campaign) : campaign_(campaign) {}

    void Run() {
        if (!StandInInPlace(campaign_, "rounds that could not run")) return;
        const size_t rounds = kRoundsPerScale * static_cast<size_t>(campaign_.Scale());
        for (size_t round = 0; round < rounds; ++round) RunRound(round);
        campaign_.Row("rounds of " + std::to_string(kEnablesPerRound) + " enables started together on two files",
                      std::to_string(rounds));
        campaign_.Row("  enables refused with 183 / ended otherwise",
                      std::to_string(counts_.refused) + " / " + std::to_string(counts_.other));
        campaign_.Row("  successes that saw the other file's proxy in force by their report",
                      std::to_string(counts_.reportedOtherProxy));
        campaign_.Row("  rounds with a state file lost before the restores", std::to_string(counts_.lostFiles));
        campaign_.ZeroRow("rounds with other than exactly one success per file", counts_.badRounds);
        campaign_.ZeroRow("rounds whose restores did not bring the user's settings back", counts_.lostSettings);
        campaign_.ZeroRow("enables that did not start", counts_.unstarted);
    }

private:
    void RunRound(size_t round) {
        const StandInSettings user = RandomUserSettings(campaign_);
        standIn_.SetSettings(user);
        for (const std::wstring& state : states_) DeleteFileW(state.c_str());
        RemoveRegisteredLogonRestores();
        RemoveSnapshotRecord();
        std::vector<std::unique_ptr<BackgroundHelper>> enables[2];
        for (int i = 0; i < kEnablesPerRound; ++i) {
            const std::wstring spelling = RandomSpelling(campaign_, states_[i % 2]);
            const std::wstring port = std::to_wstring(campaign_.Uniform(1024, 65535));
            enables[i % 2].push_back(std::make_unique<BackgroundHelper>(
                std::vector<std::wstring>{L"--proxy-enable", L"--state", spelling, L"--port", port},
                BackgroundHelper::Start::Suspended));
        }
        for (auto& file : enables) {
            for (auto& enable : file) enable->Resume();
        }
        for (size_t file = 0; file < 2; ++file) {
            int successes = 0;
            for (auto& enable : enables[file]) successes += Outcome(round, *enable);
            if (successes != 1) {
                ++counts_.badRounds;
                campaign_.Note(round, std::to_string(successes) + " enables succeeded on file " + std::to_string(file));
            }
        }
        const size_t first = campaign_.Uniform(0, 1);
        if (campaign_.Chance(kLostFileChance) && DeleteFileW(states_[campaign_.Uniform(0, 1)].c_str())) {
            ++counts_.lostFiles;
        }
        for (const size_t file : {first, 1 - first}) {
            RunHelper({L"--proxy-restore", L"--state", states_[file]}, kRunLimitMilliseconds);
        }
        const bool filesLeft = PathExists(states_[0]) || PathExists(states_[1]);
        const bool logonRestoresLeft = !RegisteredLogonRestores().empty();
        const bool recordLeft = !ReadSnapshotRecord().empty();
        if (standIn_.Settings() != user || filesLeft || logonRestoresLeft || recordLeft) {
            ++counts_.lostSettings;
            campaign_.Note(round, "after the restores: " + DescribeSettings(standIn_.Settings()) +
                                      (filesLeft ? ", a proxy state file still there" : "") +
                                      (logonRestoresLeft ? ", a logon restore still registered" : "") +
                                      (recordLeft ? ", a live snapshot still in the record" : ""));
        }
    }

    // 1 for the enable that saved a snapshot and switched the proxy. Its report is read after
    // it let go of the locks, so the other file's enable may have switched to its own proxy by
    // then: that report says so, with exit code 1.
    int Outcome(size_t round, BackgroundHelper& enable) {
        if (!enable.Started()) {
            ++counts_.unstarted;
            return 0;
        }
        const DWORD exitCode = enable.Wait(kRunLimitMilliseconds);
        const std::string output = enable.Output();
        if (exitCode == 0 && output == EnabledLine()) return 1;
        if (exitCode == 1 && output == StatusLine(true, false, false, false)) {
            ++counts_.reportedOtherProxy;
            return 1;
        }
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
    std::wstring states_[2] = {directory_ / L"proxy state",
                               MakeLongFolder(directory_.Path(), kLongFolderUnits) + L"\\another client's proxy state"};
    RaceCounts counts_;
};

}  // namespace

void RunEnableRaces(Campaign& campaign) { EnableRaces(campaign).Run(); }
