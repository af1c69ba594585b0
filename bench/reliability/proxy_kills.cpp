// Proxy enables and restores killed at random moments, each followed by a restore, through
// the WinINet stand-in. Whatever moment a kill hits, the restore after it must leave the
// user's own settings in force (all four options exactly) and no proxy state file.
#include <algorithm>
#include <map>
#include <memory>

#include "campaigns.h"
#include "support/helper_process.h"
#include "support/proxy/background_helper.h"
#include "support/proxy/stand_in_wininet_control.h"
#include "support/temp_directory.h"
#include "user_settings.h"

namespace {

using namespace testing_support;
using namespace proxy_testing;

constexpr size_t kCyclesPerScale = 200;
constexpr DWORD kRunLimitMilliseconds = 60000;
constexpr int kCalibrationRuns = 7;
// The machine's load changes while the campaign runs, and with it how long a run lasts.
constexpr size_t kCyclesPerCalibration = 40;
constexpr const char* kCallsOfAnEnable[] = {"query#1", "set", "notify-95", "notify-39", "notify-37", "query#2"};

enum class Plan { KillEnable, KillEnableInHungCall, KillRestore, KillEnableThenRestore };

// Two cycles in five kill an enable at a random moment, three in twenty inside a hung call,
// three in ten kill a restore, three in twenty kill both.
Plan ChoosePlan(Campaign& campaign) {
    const uint32_t pick = campaign.Uniform(0, 19);
    if (pick < 8) return Plan::KillEnable;
    if (pick < 11) return Plan::KillEnableInHungCall;
    if (pick < 17) return Plan::KillRestore;
    return Plan::KillEnableThenRestore;
}

class ProxyKills {
public:
    explicit ProxyKills(Campaign& campaign) : campaign_(campaign) {}

    void Run() {
        if (!InstallStandInWinInet()) {
            campaign_.Note(0, "cannot put the WinINet stand-in into system32");
            campaign_.ZeroRow("cycles that could not run", 1);
            return;
        }
        const size_t cycles = kCyclesPerScale * static_cast<size_t>(campaign_.Scale());
        for (size_t cycle = 0; cycle < cycles; ++cycle) {
            if (cycle % kCyclesPerCalibration == 0) Calibrate();
            RunCycle(cycle);
        }
        Report(cycles);
    }

private:
    std::vector<std::wstring> EnableArguments() {
        return {L"--proxy-enable", L"--state", state_, L"--port", std::to_wstring(campaign_.Uniform(1024, 65535))};
    }
    std::vector<std::wstring> RestoreArguments() const { return {L"--proxy-restore", L"--state", state_}; }

    // Kills land from the start of a run to its usual end: the median length of an enable and
    // of a restore, from start to exit, on this machine now.
    void Calibrate() {
        std::vector<ULONGLONG> enables, restores;
        for (int run = 0; run < kCalibrationRuns; ++run) {
            standIn_.SetSettings(RandomUserSettings(campaign_));
            enables.push_back(TimedRun(EnableArguments()));
            restores.push_back(TimedRun(RestoreArguments()));
        }
        enableWindow_ = static_cast<DWORD>(Median(enables));
        restoreWindow_ = static_cast<DWORD>(Median(restores));
        enableWindows_.push_back(enableWindow_);
        restoreWindows_.push_back(restoreWindow_);
    }

    static std::string Range(const std::vector<DWORD>& values) {
        const auto [low, high] = std::minmax_element(values.begin(), values.end());
        return std::to_string(*low) + "-" + std::to_string(*high);
    }

    static ULONGLONG Median(std::vector<ULONGLONG> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    }

    ULONGLONG TimedRun(const std::vector<std::wstring>& arguments) {
        const ULONGLONG started = GetTickCount64();
        BackgroundHelper run(arguments);
        run.Wait(kRunLimitMilliseconds);
        return GetTickCount64() - started;
    }

    void RunCycle(size_t cycle) {
        const StandInSettings user = RandomUserSettings(campaign_);
        standIn_.ClearControls();
        standIn_.SetSettings(user);
        DeleteFileW(state_.c_str());
        switch (ChoosePlan(campaign_)) {
            case Plan::KillEnable: KillAtRandom(EnableArguments(), enableWindow_, user, "enable"); break;
            case Plan::KillEnableInHungCall: KillInHungCall(cycle); break;
            case Plan::KillRestore:
                if (!EnableFully(cycle)) return;
                KillAtRandom(RestoreArguments(), restoreWindow_, user, "restore");
                break;
            case Plan::KillEnableThenRestore:
                KillAtRandom(EnableArguments(), enableWindow_, user, "enable");
                KillAtRandom(RestoreArguments(), restoreWindow_, user, "restore");
                break;
        }
        CheckRestoreAfterKill(cycle, user);
    }

    bool EnableFully(size_t cycle) {
        BackgroundHelper enable(EnableArguments());
        if (enable.Wait(kRunLimitMilliseconds) == 0) return true;
        campaign_.Note(cycle, "the enable before the killed restore failed: " + enable.Output());
        ++unrunnable_;
        return false;
    }

    void KillAtRandom(const std::vector<std::wstring>& arguments, DWORD window, const StandInSettings& user,
                      const std::string& verb) {
        BackgroundHelper run(arguments);
        // A fraction of the window drawn from a fixed range: a window that differs on a replay
        // must not shift the random choices that follow.
        Sleep(static_cast<DWORD>(uint64_t{window} * campaign_.Uniform(0, 1000) / 1000));
        const bool ended = run.Wait(0) != STILL_ACTIVE;
        run.Terminate();
        ++landings_[verb + (ended ? ": the run had ended" : ": " + WhereItStood(user))];
    }

    void KillInHungCall(size_t cycle) {
        const std::string selector = kCallsOfAnEnable[campaign_.Uniform(0, std::size(kCallsOfAnEnable) - 1)];
        standIn_.ClearLog();
        standIn_.HangIn(selector);
        BackgroundHelper enable(EnableArguments());
        if (!WaitForHang(standIn_, selector.substr(0, selector.find('#')), kRunLimitMilliseconds)) {
            campaign_.Note(cycle, "the enable never hung in " + selector);
        }
        enable.Terminate();
        standIn_.ClearControls();
        ++landings_["enable: hung in WinINet's " + selector];
    }

    std::string WhereItStood(const StandInSettings& user) const {
        const std::string snapshot = PathExists(state_) ? ", snapshot saved" : ", no snapshot";
        return (standIn_.Settings() == user ? "settings the user's" : "settings the helper's") + snapshot;
    }

    void CheckRestoreAfterKill(size_t cycle, const StandInSettings& user) {
        const ProcessResult restore = RunHelper(RestoreArguments(), kRunLimitMilliseconds);
        const StandInSettings after = standIn_.Settings();
        if (restore.exitCode != 0) {
            ++failedRestores_;
            campaign_.Note(cycle,
                           "the restore exited with " + std::to_string(restore.exitCode) + ": " + restore.output);
        }
        if (PathExists(state_)) {
            ++leftSnapshots_;
            campaign_.Note(cycle, "the proxy state file is still there after the restore");
        }
        if (after != user) {
            ++lostSettings_;
            campaign_.Note(cycle, "the user had " + DescribeSettings(user) + "; now " + DescribeSettings(after));
        }
    }

    void Report(size_t cycles) {
        campaign_.Row("cycles, each a kill then a restore", std::to_string(cycles));
        campaign_.Row("  kill windows: enable " + Range(enableWindows_) + " ms, restore " +
                          Range(restoreWindows_) + " ms",
                      "");
        for (const auto& [where, count] : landings_) campaign_.Row("  killed " + where, std::to_string(count));
        campaign_.ZeroRow("user settings lost or changed after the restore", lostSettings_);
        campaign_.ZeroRow("proxy state files left after the restore", leftSnapshots_);
        campaign_.ZeroRow("restores that failed", failedRestores_);
        campaign_.ZeroRow("cycles that could not run", unrunnable_);
    }

    Campaign& campaign_;
    StandInWinInet standIn_;
    TemporaryDirectory directory_;
    std::wstring state_ = directory_ / L"proxy state";
    DWORD enableWindow_ = 0;
    DWORD restoreWindow_ = 0;
    std::vector<DWORD> enableWindows_, restoreWindows_;
    std::map<std::string, uint64_t> landings_;
    uint64_t lostSettings_ = 0, leftSnapshots_ = 0, failedRestores_ = 0, unrunnable_ = 0;
};

}  // namespace

void RunProxyKills(Campaign& campaign) { ProxyKills(campaign).Run(); }
