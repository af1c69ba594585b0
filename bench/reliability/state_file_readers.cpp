// Host runs while client threads read the state file and the done marker the way the
// whole-file reads of common runtimes do (.NET File.ReadAllText, Python open().read(), Go
// os.ReadFile): open for reading, shared for reading only, read, close, over and over. Counts
// the host runs whose final record or done marker never reached the disk, and times host runs
// whose state file one reader holds open all along.
#include <algorithm>

#include "base/unique_resource.h"
#include "campaigns.h"
#include "support/helper_process.h"
#include "support/host_connection.h"
#include "support/temp_directory.h"

namespace {

using namespace testing_support;
using namespace host_testing;

constexpr size_t kCheapRunsPerScale = 200;
constexpr size_t kFullRunsPerScale = 20;
constexpr size_t kUnreadRunsPerScale = 50;
constexpr size_t kTimedRunsPerScale = 10;
constexpr DWORD kHostEndLimitMilliseconds = 30000;
constexpr char kFullRunCoreExitCode[] = "3";

struct RunOutcome {
    bool recordLost = false;
    bool doneLost = false;
    ULONGLONG milliseconds = 0;
};

// A host run that writes one record and the done marker, timed, with the state file free or held
// open by a reader from before the host starts until it has ended.
RunOutcome TimedRun(bool holdStateFile) {
    const ConnectionWithWrongCreationTime connection;
    WriteFileBytes(connection.state, kReadyRecord);
    RunOutcome outcome;
    {
        const UniqueHandleFile holder(holdStateFile ? CreateFileW(connection.state.c_str(), GENERIC_READ,
                                                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)
                                                    : INVALID_HANDLE_VALUE);
        const ULONGLONG started = GetTickCount64();
        ChildProcess host(HelperPath(), connection.HostArguments());
        host.Wait(kHostEndLimitMilliseconds);
        outcome.milliseconds = GetTickCount64() - started;
    }
    outcome.recordLost = !IsParentGoneRecord(ReadFileBytes(connection.state));
    outcome.doneLost = ReadFileBytes(connection.done) != "done";
    return outcome;
}

// A whole connection: the core comes up, is ready, and exits with a code, so that the host
// replaces its record three times and the last is the core's failure record.
RunOutcome FullRun(int readerCount) {
    HostConnection connection;
    connection.WriteCoreScript("listen " + std::to_string(connection.apiPort) + "\nsleep 300\nexit " +
                               kFullRunCoreExitCode + "\n");
    RunOutcome outcome;
    {
        const BusyReaders readers(readerCount, {connection.state, connection.done});
        ChildProcess host(HelperPath(), connection.HostArguments());
        host.Wait(kHostEndLimitMilliseconds);
    }
    const std::string record = ReadFileBytes(connection.state);
    outcome.recordLost = record.find(std::string(",\"exitCode\":") + kFullRunCoreExitCode + "}") == std::string::npos;
    outcome.doneLost = ReadFileBytes(connection.done) != "done";
    return outcome;
}

ULONGLONG Median(std::vector<ULONGLONG> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

class StateFileReaders {
public:
    explicit StateFileReaders(Campaign& campaign) : campaign_(campaign) {}

    void Run() {
        const size_t scale = static_cast<size_t>(campaign_.Scale());
        MeasureLosses("no reader", 0, kUnreadRunsPerScale * scale, 0);
        MeasureLosses("one reader", 1, kCheapRunsPerScale * scale, kFullRunsPerScale * scale);
        MeasureLosses("two readers", 2, kCheapRunsPerScale * scale, kFullRunsPerScale * scale);
        MeasureHeldFile(kTimedRunsPerScale * scale);
    }

private:
    void MeasureLosses(const std::string& readers, int readerCount, size_t cheapRuns, size_t fullRuns) {
        const LostWrites lost = RunHostsBesideBusyReaders(readerCount, cheapRuns);
        const std::string cheap = readers + ", " + std::to_string(cheapRuns) + " cheap host runs: ";
        campaign_.ZeroRow(cheap + "final record lost", lost.records);
        campaign_.ZeroRow(cheap + "done marker lost", lost.doneMarkers);
        if (fullRuns == 0) return;
        uint64_t records = 0, markers = 0;
        for (size_t run = 0; run < fullRuns; ++run) {
            const RunOutcome outcome = FullRun(readerCount);
            records += outcome.recordLost;
            markers += outcome.doneLost;
        }
        const std::string full = readers + ", " + std::to_string(fullRuns) + " full host runs: ";
        campaign_.ZeroRow(full + "final record lost", records);
        campaign_.ZeroRow(full + "done marker lost", markers);
    }

    // The same cheap run with its state file free and held open by a reader from before the
    // host starts until it has ended, in turns, so that both see the same load.
    void MeasureHeldFile(size_t runs) {
        std::vector<ULONGLONG> unheld, held;
        uint64_t lostWhileHeld = 0;
        for (size_t run = 0; run < runs; ++run) {
            unheld.push_back(TimedRun(false).milliseconds);
            const RunOutcome outcome = TimedRun(true);
            held.push_back(outcome.milliseconds);
            lostWhileHeld += outcome.recordLost;
        }
        const ULONGLONG worstHeld = *std::max_element(held.begin(), held.end());
        campaign_.Row("host run, state file free: median ms", std::to_string(Median(unheld)));
        campaign_.Row("host run, state file held throughout: median / worst ms",
                      std::to_string(Median(held)) + " / " + std::to_string(worstHeld));
        campaign_.Row("worst delay a held state file adds to a host run, ms",
                      std::to_string(worstHeld > Median(unheld) ? worstHeld - Median(unheld) : 0));
        campaign_.Row("host runs with the state file held: final record lost", OutOf(lostWhileHeld, runs));
    }

    Campaign& campaign_;
};

}  // namespace

void RunStateFileReaders(Campaign& campaign) { StateFileReaders(campaign).Run(); }
