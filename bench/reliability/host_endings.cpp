// Host runs with the stand-in core, each ended one way, in random order and at random moments.
// Once the host has gone nothing it started may still run; where it lived to its end the done
// marker must be there; the state file must hold one complete record.
#include <algorithm>
#include <map>
#include <regex>

#include "base/text.h"
#include "campaigns.h"
#include "support/file_watch.h"
#include "support/helper_process.h"
#include "support/host_connection.h"
#include "support/running_processes.h"
#include "support/temp_directory.h"

namespace {

using namespace testing_support;
using namespace host_testing;

enum class Ending {
    StopMarker,
    ClientKilled,
    CoreExits,
    CoreExitsAfterFlood,
    CoreCrashes,
    CoreWithChildren,
    HostKilled
};

constexpr Ending kEndings[] = {Ending::StopMarker,          Ending::ClientKilled, Ending::CoreExits,
                               Ending::CoreExitsAfterFlood, Ending::CoreCrashes,  Ending::CoreWithChildren,
                               Ending::HostKilled};
// How a core with children of its own is ended.
constexpr Ending kEndingsWithChildren[] = {Ending::StopMarker, Ending::ClientKilled, Ending::CoreExits,
                                           Ending::HostKilled};
constexpr size_t kConnectionsPerEndingPerScale = 16;
constexpr DWORD kKilledHostExitCode = 0xDEAD;
constexpr DWORD kHostEndLimitMilliseconds = 30000;
constexpr DWORD kLeftoverGraceMilliseconds = 5000;
constexpr uint32_t kCrashExitCode = 0xC0000005;
constexpr DWORD kLatestActionMilliseconds = 1500;
constexpr DWORD kLatestCoreExitMilliseconds = 800;
constexpr DWORD kLatestKillAfterCoreStartMilliseconds = 40;
constexpr DWORD kLastSweepDelayMilliseconds = 3000;

const char* Describe(Ending ending) {
    switch (ending) {
        case Ending::StopMarker: return "a stop marker";
        case Ending::ClientKilled: return "the client killed";
        case Ending::CoreExits: return "the core exiting with a code";
        case Ending::CoreExitsAfterFlood: return "the core exiting after an output flood";
        case Ending::CoreCrashes: return "the core crashing";
        case Ending::CoreWithChildren: return "a core with children, ended one of four ways";
        case Ending::HostKilled: return "the host killed";
    }
    return "";
}

struct EndingPlan {
    Ending ending = Ending::StopMarker;
    Ending acted = Ending::StopMarker;  // what ends it; differs for a core with children
    DWORD delay = 0;                    // after the host starts, or the core's life after it listens
    uint32_t coreExitCode = 0;
    uint32_t floodLines = 0;
    bool killAtCoreStart = false;  // the host killed just as it starts the core
};

std::string Describe(const EndingPlan& plan) {
    std::string text = std::string(Describe(plan.acted)) + " after " + std::to_string(plan.delay) + " ms";
    if (plan.ending == Ending::CoreWithChildren) text += ", the core having two children";
    if (plan.killAtCoreStart) text = "the host killed " + std::to_string(plan.delay) + " ms into starting the core";
    return text;
}

bool EndsByCoreExit(Ending ending) {
    return ending == Ending::CoreExits || ending == Ending::CoreExitsAfterFlood || ending == Ending::CoreCrashes;
}

bool IsOneCompleteRecord(const std::string& bytes) {
    static const std::regex failure(R"(\{"stage":"[a-z-]+","ipv6Disabled":(true|false),"failed":true,)"
                                    R"("code":"[A-Z0-9_]+","win32":\d+,"exitCode":\d+\})");
    return bytes == kStartCoreRecord || bytes == kWaitInterfaceRecord || bytes == kReadyRecord ||
           std::regex_match(bytes, failure);
}

std::vector<DWORD> RunningStandIns() {
    std::vector<DWORD> running;
    for (DWORD id : ProcessIdsByImageName(L"sing-box.exe")) {
        if (!ProcessHasEnded(id)) running.push_back(id);
    }
    return running;
}

// Stand-in processes that outlived their connection, each told by whose it was. Under Wine a
// core whose host died while creating it can show in the process list only after its own
// connection was checked, so every sweep looks at all of them: a core's command line names its
// connection's folder, a core's child has the core as its parent.
class LeftoverSweep {
public:
    struct Leftover {
        size_t item;
        std::string what;
    };

    void TrackFolder(size_t item, const std::wstring& folder) { folders_.emplace_back(folder, item); }
    void TrackCore(size_t item, DWORD coreId) {
        if (coreId != 0) cores_[coreId] = item;
    }

    // Gives running stand-ins `grace` to end, then ends the rest and says whose they were.
    std::vector<Leftover> Sweep(size_t currentItem, DWORD grace) {
        WaitUntil([] { return RunningStandIns().empty(); }, grace);
        std::vector<Leftover> leftovers;
        for (DWORD id : RunningStandIns()) {
            leftovers.push_back(Identify(currentItem, id));
            EndProcess(id);
        }
        return leftovers;
    }

private:
    Leftover Identify(size_t currentItem, DWORD id) const {
        const std::wstring commandLine = ProcessCommandLine(id);
        for (const auto& [folder, item] : folders_) {
            if (commandLine.find(folder) == std::wstring::npos) continue;
            const bool ran = cores_.count(id) > 0;
            return {item, std::string("its core, process ") + std::to_string(id) +
                              (ran ? ", still runs" : ", still there, never having run its script")};
        }
        const auto core = cores_.find(ParentProcessId(id));
        if (core != cores_.end()) {
            return {core->second, "a child of its core, process " + std::to_string(id) + ", still runs"};
        }
        return {currentItem, "a stand-in of no known connection still runs: " + ToUtf8(commandLine)};
    }

    std::vector<std::pair<std::wstring, size_t>> folders_;
    std::map<DWORD, size_t> cores_;
};

struct EndingCounts {
    uint64_t leftBehind = 0, doneMissing = 0, notOneRecord = 0, exitCodeMissing = 0, hostsNotEnded = 0;
    uint64_t startsLostByWine = 0;
};

class HostEndings {
public:
    explicit HostEndings(Campaign& campaign) : campaign_(campaign) {
        WriteFileBytes(idleScript_, "");
    }

    void Run() {
        std::vector<Ending> order;
        for (Ending ending : kEndings) {
            order.insert(order.end(), kConnectionsPerEndingPerScale * static_cast<size_t>(campaign_.Scale()), ending);
        }
        std::shuffle(order.begin(), order.end(), campaign_.Random());
        for (size_t item = 0; item < order.size(); ++item) {
            plans_.push_back(Plan(order[item]));
            RunConnection(item, plans_.back());
        }
        Sleep(kLastSweepDelayMilliseconds);
        CountLeftovers(order.size(), 0);
        Report(order.size());
    }

private:
    EndingPlan Plan(Ending ending) {
        EndingPlan plan;
        plan.ending = ending;
        plan.acted = ending;
        if (ending == Ending::CoreWithChildren) {
            plan.acted = kEndingsWithChildren[campaign_.Uniform(0, std::size(kEndingsWithChildren) - 1)];
        }
        plan.delay = campaign_.Uniform(0, EndsByCoreExit(plan.acted) ? kLatestCoreExitMilliseconds
                                                                      : kLatestActionMilliseconds);
        plan.coreExitCode = plan.acted == Ending::CoreCrashes ? kCrashExitCode : campaign_.Uniform(1, 255);
        plan.floodLines = campaign_.Uniform(10000, 60000);
        plan.killAtCoreStart = plan.acted == Ending::HostKilled && campaign_.Chance(0.5);
        if (plan.killAtCoreStart) plan.delay = campaign_.Uniform(0, kLatestKillAfterCoreStartMilliseconds);
        return plan;
    }

    static std::string CoreScript(const HostConnection& connection, const EndingPlan& plan) {
        std::string script = HostConnection::Line("record", connection.coreRecord);
        if (plan.ending == Ending::CoreWithChildren) {
            script += HostConnection::Line("child", connection.coreChildId);
            script += HostConnection::Line("child", connection.directory / L"second child id.txt");
        }
        script += "listen " + std::to_string(connection.apiPort) + "\n";
        if (!EndsByCoreExit(plan.acted)) return script;
        script += "sleep " + std::to_string(plan.delay) + "\n";
        if (plan.acted == Ending::CoreExitsAfterFlood) {
            script += "stdout-repeat " + std::to_string(plan.floodLines) +
                      " INFO[0042] outbound/direct: connection to 203.0.113.7:443 reset by peer, retrying\n";
        }
        if (plan.acted == Ending::CoreCrashes) return script + "crash\n";
        return script + "exit " + std::to_string(plan.coreExitCode) + "\n";
    }

    static void ActOut(const EndingPlan& plan, const HostConnection& connection, ChildProcess& client,
                       ChildProcess& host) {
        if (EndsByCoreExit(plan.acted)) return;
        if (plan.killAtCoreStart) {
            // The first record, "start-core", is written just before the core is created.
            FileSizeHistory(connection.state).PollUntil([](const auto& sizes) { return !sizes.empty(); },
                                                        kHostEndLimitMilliseconds);
        }
        Sleep(plan.delay);
        if (plan.acted == Ending::StopMarker) WriteFileBytes(connection.stop, "");
        if (plan.acted == Ending::ClientKilled) client.Terminate();
        if (plan.acted == Ending::HostKilled) host.Terminate(kKilledHostExitCode);
    }

    void RunConnection(size_t item, const EndingPlan& plan) {
        HostConnection connection;
        leftovers_.TrackFolder(item, connection.directory.Path());
        ChildProcess client(StandInCorePath(), {L"run", L"-c", idleScript_});
        connection.clientId = client.Id();
        connection.clientCreated = client.CreationTime();
        connection.WriteCoreScript(CoreScript(connection, plan));
        ChildProcess host(HelperPath(), connection.HostArguments());
        ActOut(plan, connection, client, host);
        DWORD hostExit = host.Wait(kHostEndLimitMilliseconds);
        if (hostExit == STILL_ACTIVE) {
            ++counts_.hostsNotEnded;
            campaign_.Note(item, Describe(plan) + ": the host did not end within 30 s");
            host.Terminate(kKilledHostExitCode);
            hostExit = kKilledHostExitCode;
        }
        client.Terminate();
        leftovers_.TrackCore(item, connection.CoreProcessId());
        CountLeftovers(item, kLeftoverGraceMilliseconds);
        CheckFiles(item, plan, connection, hostExit != kKilledHostExitCode);
        ++ended_[plan.ending];
    }

    void CountLeftovers(size_t currentItem, DWORD grace) {
        for (const LeftoverSweep::Leftover& leftover : leftovers_.Sweep(currentItem, grace)) {
            ++counts_.leftBehind;
            const std::string plan = leftover.item < plans_.size() ? Describe(plans_[leftover.item]) : "";
            campaign_.Note(leftover.item, plan + ": " + leftover.what);
        }
    }

    void CheckFiles(size_t item, const EndingPlan& plan, const HostConnection& connection, bool hostLived) {
        if (hostLived && ReadFileBytes(connection.done) != "done") {
            ++counts_.doneMissing;
            campaign_.Note(item, Describe(plan) + ": no done marker");
        }
        const bool recordDue = hostLived && EndsByCoreExit(plan.acted);
        const std::string record = ReadFileBytes(connection.state);
        if ((PathExists(connection.state) || recordDue) && !IsOneCompleteRecord(record)) {
            ++counts_.notOneRecord;
            campaign_.Note(item, Describe(plan) + ": the state file holds \"" + record + "\"");
            return;
        }
        if (!recordDue) return;
        if (record.find("\"code\":\"HELPER_ERROR\",\"win32\":1359") != std::string::npos) {
            ++counts_.startsLostByWine;
        } else if (record.find(",\"exitCode\":" + std::to_string(plan.coreExitCode) + "}") == std::string::npos) {
            ++counts_.exitCodeMissing;
            campaign_.Note(item, Describe(plan) + ": the core exited with " + std::to_string(plan.coreExitCode) +
                                     ", the record says " + record);
        }
    }

    void Report(size_t connections) {
        campaign_.Row("connections, each ended by one of:", std::to_string(connections));
        for (Ending ending : kEndings) {
            campaign_.Row(std::string("  ") + Describe(ending), std::to_string(ended_[ending]));
        }
        campaign_.ZeroRow("processes left behind (cores, their children)", counts_.leftBehind);
        campaign_.ZeroRow("done markers missing where the host lived to write one", counts_.doneMissing);
        campaign_.ZeroRow("state files not one complete record", counts_.notOneRecord);
        campaign_.ZeroRow("core exits recorded without the core's exit code", counts_.exitCodeMissing);
        campaign_.ZeroRow("hosts that did not end within 30 s", counts_.hostsNotEnded);
        campaign_.Row("core starts that Wine lost (1359, recorded as such)", std::to_string(counts_.startsLostByWine));
    }

    Campaign& campaign_;
    TemporaryDirectory directory_;
    std::wstring idleScript_ = directory_ / L"idle client.txt";
    std::vector<EndingPlan> plans_;
    LeftoverSweep leftovers_;
    std::map<Ending, uint64_t> ended_;
    EndingCounts counts_;
};

}  // namespace

void RunHostEndings(Campaign& campaign) { HostEndings(campaign).Run(); }
