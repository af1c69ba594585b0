// Measures whether the host holds the core back: the stand-in core writes 200-byte lines, flat out
// and then paced at 512 KiB/s, once into a pipe of the default size that a thread of this benchmark
// drains without pause (the limit) and once as the host's core after "ready", in alternating
// rounds. Prints the throughput, the longest write and their ratios, and the host's CPU time and
// memory. Asserts nothing. Run by hand: scripts/benchmark-output.sh [rounds] [seconds].
#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "base/win32.h"
#include "linux_process.h"
#include "support/file_watch.h"
#include "support/helper_process.h"
#include "support/host_connection.h"
#include "support/temp_directory.h"

namespace {

using namespace testing_support;
using namespace host_testing;

constexpr unsigned long kPacedBytesPerSecond = 512 * 1024;
constexpr DWORD kLimitReadBytes = 64 * 1024;
constexpr DWORD kHostEndMilliseconds = 15000;

// What the stand-in core's timed writer recorded.
struct WriterFigures {
    bool valid = false;
    double bytes = 0;
    double writes = 0;
    double seconds = 0;
    double longestWriteMilliseconds = 0;
    double writesOver10Milliseconds = 0;

    double MiBPerSecond() const { return seconds > 0 ? bytes / (1024.0 * 1024.0) / seconds : 0; }
};

WriterFigures ReadWriterFigures(const std::wstring& path) {
    std::map<std::string, double> values;
    const std::string text = ReadFileBytes(path);
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        if (const size_t colon = line.find(": "); colon != std::string::npos) {
            values[line.substr(0, colon)] = std::stod(line.substr(colon + 2));
        }
        start = end + 1;
    }
    WriterFigures figures;
    figures.valid = values.count("bytes") && values.count("microseconds");
    figures.bytes = values["bytes"];
    figures.writes = values["writes"];
    figures.seconds = values["microseconds"] / 1e6;
    figures.longestWriteMilliseconds = values["longest-write-microseconds"] / 1000.0;
    figures.writesOver10Milliseconds = values["writes-over-10-ms"];
    return figures;
}

std::string TimedWrites(const std::wstring& flatOut, const std::wstring& paced, int seconds) {
    const std::string milliseconds = std::to_string(seconds * 1000);
    return "write-flat-out " + milliseconds + " " + ToUtf8(flatOut) + "\nwrite-paced " +
           std::to_string(kPacedBytesPerSecond) + " " + milliseconds + " " + ToUtf8(paced) + "\n";
}

// One round's figures: flat out, then paced.
struct Round {
    WriterFigures flatOut;
    WriterFigures paced;
};

DWORD WINAPI DrainWithoutPause(void* pipe) {
    std::vector<char> buffer(kLimitReadBytes);
    DWORD read = 0;
    while (ReadFile(pipe, buffer.data(), kLimitReadBytes, &read, nullptr) && read > 0) {
    }
    return 0;
}

// The stand-in core run by this benchmark, its output drained by a thread that does nothing else.
Round MeasureLimit(int seconds) {
    TemporaryDirectory directory;
    const std::wstring script = directory / L"core script.txt";
    const std::wstring flatOut = directory / L"flat out.txt";
    const std::wstring paced = directory / L"paced.txt";
    WriteFileBytes(script, TimedWrites(flatOut, paced, seconds) + "exit 0\n");
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return {};
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = StartupWritingTo(writeEnd);
    PROCESS_INFORMATION core{};
    const bool started = CreateTestProcess(StandInCorePath(), JoinArguments({StandInCorePath(), L"run", L"-c", script}),
                                           startup, core, ProcessCreation{.inheritHandles = true});
    CloseHandle(writeEnd);
    HANDLE drain = started ? CreateThread(nullptr, 0, DrainWithoutPause, readEnd, 0, nullptr) : nullptr;
    if (started) {
        WaitForSingleObject(core.hProcess, static_cast<DWORD>(seconds) * 2000 + kHostEndMilliseconds);
        TerminateProcess(core.hProcess, 1);
        CloseHandle(core.hThread);
        CloseHandle(core.hProcess);
    }
    if (drain != nullptr) {
        WaitForSingleObject(drain, INFINITE);
        CloseHandle(drain);
    }
    CloseHandle(readEnd);
    return {ReadWriterFigures(flatOut), ReadWriterFigures(paced)};
}

// One host for every round: its core waits after "ready" until a round's go file appears, then
// writes flat out and paced.
class HostUnderTest {
public:
    HostUnderTest(int rounds, int seconds) : seconds_(seconds) {
        std::string script = "listen " + std::to_string(connection_.apiPort) + "\n";
        for (int round = 0; round < rounds; ++round) {
            script += HostConnection::Line("wait-for", Go(round)) +
                      TimedWrites(FlatOut(round), Paced(round), seconds);
        }
        connection_.WriteCoreScript(script);
        host_.emplace(HelperPath(), connection_.HostArguments());
        ready_ = WaitForReadyRecord(connection_);
        if (ready_) figures_.push_back(ReadLinuxProcessFigures(HostMarker()));
    }
    ~HostUnderTest() {
        WriteFileBytes(connection_.stop, "");
        if (host_->Wait(kHostEndMilliseconds) != 0) std::printf("the host did not end on the stop marker\n");
    }

    bool Ready() const { return ready_; }
    // The host's figures: at "ready", then after each flat out and each paced run.
    const std::vector<LinuxProcessFigures>& HostFigures() const { return figures_; }

    Round Measure(int round) {
        WriteFileBytes(Go(round), "");
        const uint32_t writingMilliseconds = static_cast<uint32_t>(seconds_) * 2000 + kHostEndMilliseconds;
        for (const std::wstring& figures : {FlatOut(round), Paced(round)}) {
            WaitUntil([&] { return PathExists(figures); }, writingMilliseconds);
            figures_.push_back(ReadLinuxProcessFigures(HostMarker()));
        }
        return {ReadWriterFigures(FlatOut(round)), ReadWriterFigures(Paced(round))};
    }

private:
    std::wstring Go(int round) const { return connection_.directory / (L"go " + std::to_wstring(round)); }
    std::wstring FlatOut(int round) const { return connection_.directory / (L"flat out " + std::to_wstring(round)); }
    std::wstring Paced(int round) const { return connection_.directory / (L"paced " + std::to_wstring(round)); }
    std::vector<std::string> HostMarker() const {
        return {"KELDRIX-Network.exe", "--host", ToUtf8(connection_.config)};
    }

    int seconds_;
    HostConnection connection_;
    std::optional<ChildProcess> host_;
    bool ready_ = false;
    std::vector<LinuxProcessFigures> figures_;
};

double Ratio(double host, double limit) { return limit > 0 ? host / limit : 0; }

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void PrintRound(const char* name, const WriterFigures& limit, const WriterFigures& host) {
    std::printf("  %-8s throughput limit %6.2f MiB/s, host %6.2f MiB/s (%.2f); longest write limit %6.2f ms, host "
                "%6.2f ms; writes over 10 ms limit %.0f of %.0f, host %.0f of %.0f\n",
                name, limit.MiBPerSecond(), host.MiBPerSecond(), Ratio(host.MiBPerSecond(), limit.MiBPerSecond()),
                limit.longestWriteMilliseconds, host.longestWriteMilliseconds, limit.writesOver10Milliseconds,
                limit.writes, host.writesOver10Milliseconds, host.writes);
}

// The throughput as the median over the rounds (the machine's load moves both); the longest
// write and the slow writes over all of them.
void PrintSummary(const char* name, const std::vector<WriterFigures>& limit, const std::vector<WriterFigures>& host) {
    std::vector<double> limitThroughput, hostThroughput, ratios;
    double limitLongest = 0, hostLongest = 0, limitSlow = 0, hostSlow = 0;
    for (size_t round = 0; round < limit.size(); ++round) {
        limitThroughput.push_back(limit[round].MiBPerSecond());
        hostThroughput.push_back(host[round].MiBPerSecond());
        ratios.push_back(Ratio(host[round].MiBPerSecond(), limit[round].MiBPerSecond()));
        limitLongest = std::max(limitLongest, limit[round].longestWriteMilliseconds);
        hostLongest = std::max(hostLongest, host[round].longestWriteMilliseconds);
        limitSlow += limit[round].writesOver10Milliseconds;
        hostSlow += host[round].writesOver10Milliseconds;
    }
    std::printf("%s:\n", name);
    std::printf("  throughput (median)  limit %6.2f MiB/s   host %6.2f MiB/s   host/limit %.2f\n",
                Median(limitThroughput), Median(hostThroughput), Median(ratios));
    std::printf("  longest write        limit %6.2f ms      host %6.2f ms      host/limit %.2f\n", limitLongest,
                hostLongest, Ratio(hostLongest, limitLongest));
    std::printf("  writes over 10 ms    limit %6.0f         host %6.0f\n", limitSlow, hostSlow);
}

// CPU time is counted in ticks of 10 ms.
void PrintHostUse(const std::vector<LinuxProcessFigures>& figures, int seconds) {
    if (figures.empty() || figures.front().cpuTicks < 0) {
        std::printf("host CPU and memory: not found in /proc\n");
        return;
    }
    std::vector<double> flatOut, paced;
    std::string memory;
    for (size_t at = 1; at < figures.size(); ++at) {
        const double milliseconds = static_cast<double>(figures[at].cpuTicks - figures[at - 1].cpuTicks) * 10;
        (at % 2 ? flatOut : paced).push_back(milliseconds);
        memory += ' ';
        memory += std::to_string(figures[at].residentKiB);
    }
    std::printf("host (the Linux process behind it):\n");
    std::printf("  CPU time (median)    flat out %.0f ms, paced %.0f ms in %d s = %.0f ms per minute\n",
                Median(flatOut), Median(paced), seconds, Median(paced) * 60 / seconds);
    std::printf("  resident memory      at \"ready\" %lld KiB, after each run (KiB):%s\n", figures.front().residentKiB,
                memory.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::printf("the stand-in core writing 200-byte lines, %d s flat out, then %d s paced at %lu KiB/s; %d rounds\n",
                seconds, seconds, kPacedBytesPerSecond / 1024, rounds);
    HostUnderTest host(rounds, seconds);
    if (!host.Ready()) {
        std::printf("the host did not report \"ready\"\n");
        return 1;
    }
    std::vector<WriterFigures> limitFlatOut, hostFlatOut, limitPaced, hostPaced;
    for (int round = 0; round < rounds; ++round) {
        const Round limit = MeasureLimit(seconds);
        const Round underHost = host.Measure(round);
        if (!limit.flatOut.valid || !limit.paced.valid || !underHost.flatOut.valid || !underHost.paced.valid) {
            std::printf("round %d: figures missing\n", round + 1);
            continue;
        }
        std::printf("round %d:\n", round + 1);
        PrintRound("flat out", limit.flatOut, underHost.flatOut);
        PrintRound("paced", limit.paced, underHost.paced);
        limitFlatOut.push_back(limit.flatOut);
        hostFlatOut.push_back(underHost.flatOut);
        limitPaced.push_back(limit.paced);
        hostPaced.push_back(underHost.paced);
    }
    PrintSummary("flat out", limitFlatOut, hostFlatOut);
    PrintSummary("paced at 512 KiB/s", limitPaced, hostPaced);
    PrintHostUse(host.HostFigures(), seconds);
    return 0;
}
