// Proxy enables and restores killed at random moments, through the WinINet stand-in, on two
// proxy state files (two clients, the other's at the end of a long path), each run naming its
// file in a spelling of its own; half the cycles switch the other client's proxy on before or
// after the kills. Now and then a state file is lost before the restores, or gets a second name
// through which a restore is tried (and must be refused, changing nothing). Whatever moment a
// kill hits, the restores of both files after it, in either order, must leave the user's own
// settings in force (all four options exactly), no proxy state file, no logon restore and no
// live snapshot in the helper's record.
#include <algorithm>
#include <map>
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

constexpr size_t kCyclesPerScale = 200;
constexpr DWORD kRunLimitMilliseconds = 60000;
constexpr int kCalibrationRuns = 7;
// The machine's load changes while the campaign runs, and with it how long a run lasts.
constexpr size_t kCyclesPerCalibration = 40;
constexpr const char* kCallsOfAnEnable[] = {"query#1", "set", "notify-95", "notify-39", "notify-37", "query#2"};
constexpr double kLostFileChance = 0.15;
constexpr double kLinkedNameChance = 0.1;
// Far over what a logon restore naming the file could hold beside the helper's path.
constexpr size_t kLongFolderUnits = 220;

enum class Plan { KillEnable, KillEnableInHungCall, KillRestore, KillEnableThenRestore };
// When the other client's proxy is switched on, if at all.
enum class Overlap { None, Before, After };

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
        if (!StandInInPlace(campaign_, "cycles that could not run")) return;
        const size_t cycles = kCyclesPerScale * static_cast<size_t>(campaign_.Scale());
        for (size_t cycle = 0; cycle < cycles; ++cycle) {
            if (cycle % kCyclesPerCalibration == 0) Calibrate();
            RunCycle(cycle);
        }
        Report(cycles);
    }

private:
    // One of the ways of writing one of the two files.
    std::wstring Spelling(const std::wstring& state) { return RandomSpelling(campaign_, state); }
    std::vector<std::wstring> EnableArguments(const std::wstring& state) {
        const std::wstring spelling = Spelling(state);
        return {L"--proxy-enable", L"--state", spelling, L"--port", std::to_wstring(campaign_.Uniform(1024, 65535))};
    }
    std::vector<std::wstring> RestoreArguments(const std::wstring& state) {
        return {L"--proxy-restore", L"--state", Spelling(state)};
    }
    std::vector<std::wstring> EnableArguments() { return EnableArguments(state_); }
    std::vector<std::wstring> RestoreArguments() { return RestoreArguments(state_); }

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
        DeleteFileW(otherState_.c_str());
        RemoveRegisteredLogonRestores();
        RemoveSnapshotRecord();
        const Overlap overlap = static_cast<Overlap>(campaign_.Uniform(0, 3) % 3);
        if (overlap == Overlap::Before && !EnableFully(cycle, otherState_)) return;
        switch (ChoosePlan(campaign_)) {
            case Plan::KillEnable: KillAtRandom(EnableArguments(), enableWindow_, user, "enable"); break;
            case Plan::KillEnableInHungCall: KillInHungCall(cycle); break;
            case Plan::KillRestore:
                if (!EnableFully(cycle, state_)) return;
                KillAtRandom(RestoreArguments(), restoreWindow_, user, "restore");
                break;
            case Plan::KillEnableThenRestore:
                KillAtRandom(EnableArguments(), enableWindow_, user, "enable");
                KillAtRandom(RestoreArguments(), restoreWindow_, user, "restore");
                break;
        }
        if (overlap == Overlap::After && !EnableFully(cycle, otherState_)) return;
        ++overlaps_[overlap];
        if (campaign_.Chance(kLinkedNameChance)) TryThroughASecondName(cycle);
        if (campaign_.Chance(kLostFileChance)) LoseAFile();
        CheckRestoresAfterKill(cycle, user);
    }

    // A cleaner, or the user, deletes a state file, whatever its proxy does.
    void LoseAFile() {
        const std::wstring& lost = campaign_.Chance(0.5) ? state_ : otherState_;
        if (DeleteFileW(lost.c_str())) ++lostFiles_;
    }

    // Another name for the same file gets a lock of its own: a restore through either name is
    // refused before it changes anything.
    void TryThroughASecondName(size_t cycle) {
        // Drawn first: whether the file is there depends on where a kill landed, not on the seed.
        const std::vector<std::wstring> restores[] = {RestoreArguments(secondName_), RestoreArguments(state_)};
        if (!PathExists(state_) || !CreateHardLinkW(secondName_.c_str(), state_.c_str(), nullptr)) return;
        const std::string before = ReadFileBytes(state_);
        const StandInSettings settings = standIn_.Settings();
        for (const std::vector<std::wstring>& restore : restores) {
            const ProcessResult refused = RunHelper(restore, kRunLimitMilliseconds);
            ++linkedNameRuns_;
            if (refused.exitCode != 2 || refused.output != ErrorLine(ERROR_TOO_MANY_LINKS) ||
                ReadFileBytes(state_) != before || standIn_.Settings() != settings) {
                ++linkedNameFaults_;
                campaign_.Note(cycle, "a restore through a linked name exited with " +
                                          std::to_string(refused.exitCode) + ": " + refused.output);
            }
        }
        DeleteFileW(secondName_.c_str());
    }

    // An enable that runs to its end. With the other client's proxy in force it may report
    // that proxy, not its own, and exit with 1: what counts is that it saved a snapshot.
    bool EnableFully(size_t cycle, const std::wstring& state) {
        BackgroundHelper enable(EnableArguments(state));
        const DWORD exitCode = enable.Wait(kRunLimitMilliseconds);
        if ((exitCode == 0 || exitCode == 1) && PathExists(state)) return true;
        campaign_.Note(cycle, "a whole enable failed: " + enable.Output());
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

    // Both clients put the proxy back, in a random order.
    void CheckRestoresAfterKill(size_t cycle, const StandInSettings& user) {
        const bool otherFirst = campaign_.Chance(0.5);
        for (const std::wstring* state : {otherFirst ? &otherState_ : &state_, otherFirst ? &state_ : &otherState_}) {
            const ProcessResult restore = RunHelper(RestoreArguments(*state), kRunLimitMilliseconds);
            if (restore.exitCode != 0) {
                ++failedRestores_;
                campaign_.Note(cycle,
                               "a restore exited with " + std::to_string(restore.exitCode) + ": " + restore.output);
            }
        }
        const StandInSettings after = standIn_.Settings();
        if (PathExists(state_) || PathExists(otherState_)) {
            ++leftSnapshots_;
            campaign_.Note(cycle, "a proxy state file is still there after the restores");
        }
        if (!RegisteredLogonRestores().empty()) {
            ++leftLogonRestores_;
            campaign_.Note(cycle, "a logon restore is still registered after the restores");
        }
        if (!ReadSnapshotRecord().empty()) {
            ++leftRecords_;
            campaign_.Note(cycle, "the record still lists a live snapshot after the restores");
        }
        if (after != user) {
            ++lostSettings_;
            campaign_.Note(cycle, "the user had " + DescribeSettings(user) + "; now " + DescribeSettings(after));
        }
    }

    void Report(size_t cycles) {
        campaign_.Row("cycles, each a kill then a restore of both files", std::to_string(cycles));
        campaign_.Row("  the other client's proxy switched on before / after / never",
                      std::to_string(overlaps_[Overlap::Before]) + " / " + std::to_string(overlaps_[Overlap::After]) +
                          " / " + std::to_string(overlaps_[Overlap::None]));
        campaign_.Row("  kill windows: enable " + Range(enableWindows_) + " ms, restore " +
                          Range(restoreWindows_) + " ms",
                      "");
        for (const auto& [where, count] : landings_) campaign_.Row("  killed " + where, std::to_string(count));
        campaign_.Row("  state files lost before the restores", std::to_string(lostFiles_));
        campaign_.Row("  restores tried through a second name of a file", std::to_string(linkedNameRuns_));
        campaign_.ZeroRow("user settings lost or changed after the restores", lostSettings_);
        campaign_.ZeroRow("proxy state files left after the restores", leftSnapshots_);
        campaign_.ZeroRow("logon restores left registered after the restores", leftLogonRestores_);
        campaign_.ZeroRow("records of live snapshots left after the restores", leftRecords_);
        campaign_.ZeroRow("restores through a second name not refused, or changing things", linkedNameFaults_);
        campaign_.ZeroRow("restores that failed", failedRestores_);
        campaign_.ZeroRow("cycles that could not run", unrunnable_);
    }

    Campaign& campaign_;
    StandInWinInet standIn_;
    TemporaryDirectory directory_;
    std::wstring state_ = directory_ / L"proxy state";
    std::wstring secondName_ = directory_ / L"a second name of the proxy state";
    std::wstring otherState_ = MakeLongFolder(directory_.Path(), kLongFolderUnits) + L"\\another client's proxy state";
    DWORD enableWindow_ = 0;
    DWORD restoreWindow_ = 0;
    std::vector<DWORD> enableWindows_, restoreWindows_;
    std::map<std::string, uint64_t> landings_;
    std::map<Overlap, uint64_t> overlaps_;
    uint64_t lostSettings_ = 0, leftSnapshots_ = 0, leftLogonRestores_ = 0, leftRecords_ = 0, failedRestores_ = 0,
             unrunnable_ = 0, lostFiles_ = 0, linkedNameRuns_ = 0, linkedNameFaults_ = 0;
};

}  // namespace

void RunProxyKills(Campaign& campaign) { ProxyKills(campaign).Run(); }
