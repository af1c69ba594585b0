// Host runs while client threads read the state file and the done marker the way the
// whole-file reads of common runtimes do (.NET File.ReadAllText, Python open().read(), Go
// os.ReadFile): open for reading, shared for reading only, read, close, over and over. Counts
// the host runs whose final record or done marker never reached the disk. Then readers that hold
// the files open for 1.5 s at the host's last record, and one that holds the state file while a
// stop ends a ready connection: what they cost in lost records (none may be lost) and in time.
#include <algorithm>
#include <optional>
#include <utility>

#include "base/text.h"
#include "base/unique_resource.h"
#include "campaigns.h"
#include "support/file_watch.h"
#include "support/helper_process.h"
#include "support/host_connection.h"
#include "support/temp_directory.h"

namespace {

using namespace testing_support;
using namespace host_testing;

constexpr size_t kCheapRunsPerScale = 200;
constexpr size_t kFullRunsPerScale = 20;
constexpr size_t kUnreadRunsPerScale = 50;
constexpr size_t kHeldRunsPerScale = 10;
constexpr DWORD kHostEndLimitMilliseconds = 30000;
constexpr DWORD kReaderHoldMilliseconds = 1500;
constexpr char kFullRunCoreExitCode[] = "3";

struct RunOutcome {
    bool recordLost = false;
    bool doneLost = false;
    ULONGLONG milliseconds = 0;
    // What a faulty run left, for its note.
    std::string left;
};

// The names in the connection's folder that begin with "state", and each one's bytes.
std::string StateFilesIn(const HostConnection& connection) {
    std::string found;
    WIN32_FIND_DATAW entry{};
    const HANDLE search = FindFirstFileW((connection.directory / L"state*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return found;
    do {
        found.append(" ").append(ToUtf8(entry.cFileName)).append(": ");
        found.append(ReadFileBytes(connection.directory / entry.cFileName)).append(";");
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return found;
}

// A whole connection: the core comes up, is ready, and exits with a code, so that the host
// replaces its record three times and the last is the core's failure record.
RunOutcome FullRun(int readerCount) {
    HostConnection connection;
    connection.WriteCoreScript("listen " + std::to_string(connection.apiPort) + "\nsleep 300\nexit " +
                               kFullRunCoreExitCode + "\n");
    RunOutcome outcome;
    DWORD exitCode = 0;
    {
        const BusyReaders readers(readerCount, {connection.state, connection.done});
        const ULONGLONG started = GetTickCount64();
        ChildProcess host(HelperPath(), connection.HostArguments());
        exitCode = host.Wait(kHostEndLimitMilliseconds);
        outcome.milliseconds = GetTickCount64() - started;
    }
    const std::string record = ReadFileBytes(connection.state);
    outcome.recordLost = record.find(std::string(",\"exitCode\":") + kFullRunCoreExitCode + "}") == std::string::npos;
    outcome.doneLost = ReadFileBytes(connection.done) != "done";
    outcome.left = "host exit " + std::to_string(exitCode) + " after " + std::to_string(outcome.milliseconds) +
                   " ms;" + StateFilesIn(connection) + " done: " + ReadFileBytes(connection.done);
    return outcome;
}

// A ready connection stopped by its marker, its state file free or held by a reader from before
// the host starts (so that the "ready" record waits): timed from the stop marker to the core's
// end. The reader lets go once the core has ended; then the record and the marker must arrive.
RunOutcome StopWhileReady(bool holdStateFile) {
    HostConnection connection;
    connection.WriteCoreScript(HostConnection::Line("record", connection.coreRecord) + "listen " +
                               std::to_string(connection.apiPort) + "\n");
    WriteFileBytes(connection.state, "the record before");
    std::optional<HeldFile> reader(std::in_place, holdStateFile ? connection.state : L"");
    ChildProcess host(HelperPath(), connection.HostArguments());
    RunOutcome outcome;
    const std::wstring readyAt = holdStateFile ? connection.state + L".tmp" : connection.state;
    if (!WaitUntil([&] { return ReadFileBytes(readyAt) == kReadyRecord && connection.CoreProcessId() != 0; },
                   kHostEndLimitMilliseconds)) {
        outcome.recordLost = true;
        return outcome;
    }
    const UniqueHandleNull core(OpenProcess(SYNCHRONIZE, FALSE, connection.CoreProcessId()));
    const ULONGLONG stopped = GetTickCount64();
    WriteFileBytes(connection.stop, "");
    WaitForSingleObject(core.Get(), kHostEndLimitMilliseconds);
    outcome.milliseconds = GetTickCount64() - stopped;
    reader.reset();
    host.Wait(kHostEndLimitMilliseconds);
    outcome.recordLost = ReadFileBytes(connection.state) != kReadyRecord;
    outcome.doneLost = ReadFileBytes(connection.done) != "done";
    return outcome;
}

ULONGLONG Median(std::vector<ULONGLONG> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

std::string MedianAndWorst(const std::vector<ULONGLONG>& values) {
    const ULONGLONG worst = values.empty() ? 0 : *std::max_element(values.begin(), values.end());
    return std::to_string(Median(values)) + " / " + std::to_string(worst);
}

class StateFileReaders {
public:
    explicit StateFileReaders(Campaign& campaign) : campaign_(campaign) {}

    void Run() {
        const size_t scale = static_cast<size_t>(campaign_.Scale());
        MeasureLosses("no reader", 0, kUnreadRunsPerScale * scale, 0);
        MeasureLosses("one reader", 1, kCheapRunsPerScale * scale, kFullRunsPerScale * scale);
        MeasureLosses("two readers", 2, kCheapRunsPerScale * scale, kFullRunsPerScale * scale);
        MeasureHeldAtTheLastRecord(kHeldRunsPerScale * scale);
        MeasureStopWithTheReadyRecordHeld(kHeldRunsPerScale * scale);
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
            if (outcome.recordLost || outcome.doneLost) campaign_.Note(run, readers + ": " + outcome.left);
        }
        const std::string full = readers + ", " + std::to_string(fullRuns) + " full host runs: ";
        campaign_.ZeroRow(full + "final record lost", records);
        campaign_.ZeroRow(full + "done marker lost", markers);
    }

    void MeasureHeldAtTheLastRecord(size_t runs) {
        for (const auto& [holdState, holdDone] :
             {std::pair{true, false}, std::pair{false, true}, std::pair{true, true}}) {
            uint64_t records = 0, markers = 0;
            std::vector<ULONGLONG> delays;
            for (size_t run = 0; run < runs; ++run) {
                const HeldFilesRun outcome = RunHostWithFilesHeld(holdState, holdDone, kReaderHoldMilliseconds);
                records += !outcome.recordArrived;
                markers += !outcome.doneArrived;
                delays.push_back(outcome.letGoToEndMilliseconds);
            }
            const std::string held = holdState && holdDone ? "both" : holdState ? "state file" : "done marker";
            const std::string row = held + " held 1.5 s, " + std::to_string(runs) + " runs: ";
            campaign_.ZeroRow(row + "final record lost", records);
            campaign_.ZeroRow(row + "done marker lost", markers);
            campaign_.Row(row + "let go to end, median/worst ms", MedianAndWorst(delays));
        }
    }

    // In turns, so that both see the same load.
    void MeasureStopWithTheReadyRecordHeld(size_t runs) {
        std::vector<ULONGLONG> free, held;
        uint64_t lost = 0;
        for (size_t run = 0; run < runs; ++run) {
            for (const bool holdStateFile : {false, true}) {
                const RunOutcome outcome = StopWhileReady(holdStateFile);
                (holdStateFile ? held : free).push_back(outcome.milliseconds);
                lost += outcome.recordLost || outcome.doneLost;
            }
        }
        campaign_.Row("stop when ready, state file free: to core end, median/worst ms", MedianAndWorst(free));
        campaign_.Row("stop when ready, state file held: to core end, median/worst ms", MedianAndWorst(held));
        campaign_.ZeroRow("stop when ready, " + std::to_string(2 * runs) + " runs: record or marker lost", lost);
    }

    Campaign& campaign_;
};

}  // namespace

void RunStateFileReaders(Campaign& campaign) { StateFileReaders(campaign).Run(); }
