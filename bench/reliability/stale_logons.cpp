// Logon restores that outlive their snapshot. A connection is made on a proxy state file (half the
// time at the end of a long path), its logon restore is taken as it stands, the connection is
// restored (which removes it) and a later one is made on the same path, in half the cycles with
// another client's connection too. Then the stale command is run as Windows runs it at a logon,
// with the command an earlier version would have registered for the earlier file beside it. The
// later connection must stay exactly as it was (its proxy, its snapshot, the record), and the
// restores after must bring the user's own settings back and leave nothing. The table counts the
// later snapshots that got the earlier file's identity, which the file system hands on (ext4 at
// once, FAT by directory slot): what a command naming the file by its identity could not tell.
#include <map>

#include "campaigns.h"
#include "proxy/proxy_snapshot.h"
#include "proxy/proxy_snapshot_record.h"
#include "support/helper_process.h"
#include "support/proxy/logon_restores.h"
#include "support/proxy/path_spellings.h"
#include "support/proxy/stand_in_wininet_control.h"
#include "support/temp_directory.h"
#include "user_settings.h"

namespace {

using namespace testing_support;
using namespace proxy_testing;

constexpr size_t kCyclesPerScale = 100;
constexpr DWORD kRunLimitMilliseconds = 60000;
constexpr size_t kLongFolderUnits = 220;

// What a later connection consists of, to compare before and after the stale command.
struct ConnectionState {
    std::string snapshot;
    StandInSettings settings;
    SnapshotRecord record;

    bool operator==(const ConnectionState&) const = default;
};

class StaleLogons {
public:
    explicit StaleLogons(Campaign& campaign) : campaign_(campaign) {}

    void Run() {
        if (!StandInInPlace(campaign_, "cycles that could not run")) return;
        const size_t cycles = kCyclesPerScale * static_cast<size_t>(campaign_.Scale());
        for (size_t cycle = 0; cycle < cycles; ++cycle) RunCycle(cycle);
        Report(cycles);
    }

private:
    std::wstring Spelling(const std::wstring& path) { return RandomSpelling(campaign_, path); }

    bool Enable(size_t cycle, const std::wstring& path) {
        const ProcessResult enable = RunHelper({L"--proxy-enable", L"--state", Spelling(path), L"--port",
                                                std::to_wstring(campaign_.Uniform(1024, 65535))},
                                               kRunLimitMilliseconds);
        if ((enable.exitCode == 0 || enable.exitCode == 1) && PathExists(path)) return true;
        campaign_.Note(cycle, "an enable failed: " + enable.output);
        return false;
    }

    ConnectionState StateOf(const std::wstring& path) const {
        return ConnectionState{ReadFileBytes(path), standIn_.Settings(), ReadSnapshotRecord()};
    }

    // The command an earlier version registered beside the earlier file, which named it by its
    // identity and path.
    static std::wstring EarlierVersionsCommand(const FileIdentity& earlier, const std::wstring& path) {
        return L"\"" + HelperPath() + L"\" --proxy-restore --snapshot-id " + FormatEarlierSnapshotId(earlier) +
               L" --state \"" + path + L"\"";
    }

    void RunCycle(size_t cycle) {
        const StandInSettings user = RandomUserSettings(campaign_);
        standIn_.SetSettings(user);
        for (const std::wstring* file : {&state_, &longState_, &otherState_}) DeleteFileW(file->c_str());
        RemoveRegisteredLogonRestores();
        RemoveSnapshotRecord();
        const bool longPath = campaign_.Chance(0.5);
        const std::wstring& path = longPath ? longState_ : state_;
        if (!Enable(cycle, path)) {
            ++unrunnable_;
            return;
        }
        const std::optional<FileIdentity> earlier = IdentityAt(path);
        std::map<std::wstring, std::wstring> stale = RegisteredLogonRestores();
        if (stale.size() != 1 || !earlier) {
            campaign_.Note(cycle, "the enable registered " + std::to_string(stale.size()) + " logon restores");
            ++unrunnable_;
            return;
        }
        stale[L"an earlier version's"] = EarlierVersionsCommand(*earlier, path);
        RunHelper({L"--proxy-restore", L"--state", Spelling(path)}, kRunLimitMilliseconds);
        const bool otherClient = campaign_.Chance(0.5);
        if ((otherClient && !Enable(cycle, otherState_)) || !Enable(cycle, path)) {
            ++unrunnable_;
            return;
        }
        if (IdentityAt(path) == earlier) ++sameIdentity_;
        if (longPath) ++longPaths_;
        if (otherClient) ++otherClients_;

        const ConnectionState before = StateOf(path);
        for (const auto& [name, command] : stale) {
            const ProcessResult run = RunLogonRestore(name, command);
            if (run.exitCode != 0) {
                ++failedCommands_;
                campaign_.Note(cycle, "a stale logon restore exited with " + std::to_string(run.exitCode) + ": " +
                                          run.output);
            }
        }
        if (StateOf(path) != before) {
            ++undone_;
            campaign_.Note(cycle, "a stale logon restore changed the later connection: now " +
                                      DescribeSettings(standIn_.Settings()) +
                                      (PathExists(path) ? "" : ", its snapshot gone"));
        }
        CheckRestores(cycle, path, user);
    }

    void CheckRestores(size_t cycle, const std::wstring& path, const StandInSettings& user) {
        const bool otherFirst = campaign_.Chance(0.5);
        for (const std::wstring* file : {otherFirst ? &otherState_ : &path, otherFirst ? &path : &otherState_}) {
            RunHelper({L"--proxy-restore", L"--state", Spelling(*file)}, kRunLimitMilliseconds);
        }
        const bool left = PathExists(path) || PathExists(otherState_) || !RegisteredLogonRestores().empty() ||
                          !ReadSnapshotRecord().empty();
        if (standIn_.Settings() != user || left) {
            ++lost_;
            campaign_.Note(cycle, "after the restores: " + DescribeSettings(standIn_.Settings()) +
                                      (left ? ", something left behind" : ""));
        }
    }

    void Report(size_t cycles) {
        campaign_.Row("cycles: connect, restore, connect again, run the stale restore", std::to_string(cycles));
        campaign_.Row("  on a long path / with another client's connection too",
                      std::to_string(longPaths_) + " / " + std::to_string(otherClients_));
        campaign_.Row("  later snapshots that got the earlier file's identity", std::to_string(sameIdentity_));
        campaign_.ZeroRow("later connections changed by a stale logon restore", undone_);
        campaign_.ZeroRow("stale logon restores that failed", failedCommands_);
        campaign_.ZeroRow("user settings lost, or anything left, after the restores", lost_);
        campaign_.ZeroRow("cycles that could not run", unrunnable_);
    }

    Campaign& campaign_;
    StandInWinInet standIn_;
    TemporaryDirectory directory_;
    std::wstring state_ = directory_ / L"proxy state";
    std::wstring longState_ = MakeLongFolder(directory_.Path(), kLongFolderUnits) + L"\\proxy state";
    std::wstring otherState_ = directory_ / L"another client's proxy state";
    uint64_t sameIdentity_ = 0, longPaths_ = 0, otherClients_ = 0;
    uint64_t undone_ = 0, failedCommands_ = 0, lost_ = 0, unrunnable_ = 0;
};

}  // namespace

void RunStaleLogons(Campaign& campaign) { StaleLogons(campaign).Run(); }
