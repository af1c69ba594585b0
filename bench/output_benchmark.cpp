// Measures whether the host holds the core back: the stand-in core writes 200-byte lines, flat out
// and then paced at 512 KiB/s, once into a pipe of the default size that a thread of this benchmark
// drains without pause (the limit) and once as the host's core after "ready". Prints the
// throughput, the longest write and their ratios, and the host's CPU time and memory over both.
// Asserts nothing. Run by hand: scripts/benchmark-output.sh [seconds].
#include <algorithm>
#include <cstdio>
#include <map>
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

struct Measurement {
    WriterFigures flatOut;
    WriterFigures paced;
    // The host's, at "ready", after flat out and after paced; none for the limit.
    std::vector<LinuxProcessFigures> host;
};

DWORD WINAPI DrainWithoutPause(void* pipe) {
    std::vector<char> buffer(kLimitReadBytes);
    DWORD read = 0;
    while (ReadFile(pipe, buffer.data(), kLimitReadBytes, &read, nullptr) && read > 0) {
    }
    return 0;
}

// The stand-in core run by this benchmark, its output drained by a thread that does nothing else.
Measurement MeasureLimit(int seconds) {
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
    return {ReadWriterFigures(flatOut), ReadWriterFigures(paced), {}};
}

// The same core run by the host, writing once the host has reported "ready".
Measurement MeasureHost(int seconds) {
    HostConnection connection;
    const std::wstring flatOut = connection.directory / L"flat out.txt";
    const std::wstring paced = connection.directory / L"paced.txt";
    const std::wstring go = connection.directory / L"go";
    connection.WriteCoreScript("listen " + std::to_string(connection.apiPort) + "\n" +
                               HostConnection::Line("wait-for", go) + TimedWrites(flatOut, paced, seconds));
    ChildProcess host(HelperPath(), connection.HostArguments());
    if (!WaitForReadyRecord(connection)) {
        std::printf("the host did not report \"ready\"\n");
        return {};
    }
    const std::vector<std::string> hostMarker = {"KELDRIX-Network.exe", "--host", ToUtf8(connection.config)};
    Measurement measurement;
    measurement.host.push_back(ReadLinuxProcessFigures(hostMarker));
    WriteFileBytes(go, "");
    const uint32_t writingMilliseconds = static_cast<uint32_t>(seconds) * 2000 + kHostEndMilliseconds;
    for (const std::wstring& figures : {flatOut, paced}) {
        WaitUntil([&] { return PathExists(figures); }, writingMilliseconds);
        measurement.host.push_back(ReadLinuxProcessFigures(hostMarker));
    }
    WriteFileBytes(connection.stop, "");
    if (host.Wait(kHostEndMilliseconds) != 0) std::printf("the host did not end on the stop marker\n");
    measurement.flatOut = ReadWriterFigures(flatOut);
    measurement.paced = ReadWriterFigures(paced);
    return measurement;
}

double Ratio(double host, double limit) { return limit > 0 ? host / limit : 0; }

void PrintRun(const char* name, const WriterFigures& limit, const WriterFigures& host) {
    if (!limit.valid || !host.valid) {
        std::printf("%s: no figures (limit %s, host %s)\n", name, limit.valid ? "ok" : "missing",
                    host.valid ? "ok" : "missing");
        return;
    }
    std::printf("%s:\n", name);
    std::printf("  throughput        limit %9.2f MiB/s   host %9.2f MiB/s   host/limit %.2f\n", limit.MiBPerSecond(),
                host.MiBPerSecond(), Ratio(host.MiBPerSecond(), limit.MiBPerSecond()));
    std::printf("  longest write     limit %9.2f ms      host %9.2f ms      host/limit %.2f\n",
                limit.longestWriteMilliseconds, host.longestWriteMilliseconds,
                Ratio(host.longestWriteMilliseconds, limit.longestWriteMilliseconds));
    std::printf("  writes over 10 ms limit %9.0f of %.0f  host %9.0f of %.0f\n", limit.writesOver10Milliseconds,
                limit.writes, host.writesOver10Milliseconds, host.writes);
}

// CPU time is counted in ticks of 10 ms: a figure under 100 ms is rough.
void PrintHostUse(const std::vector<LinuxProcessFigures>& host) {
    if (host.size() != 3 || host[0].cpuTicks < 0 || host[2].cpuTicks < 0) {
        std::printf("host CPU and memory: not found in /proc\n");
        return;
    }
    std::printf("host (the Linux process behind it):\n");
    std::printf("  CPU time          flat out %lld ms, paced %lld ms\n", (host[1].cpuTicks - host[0].cpuTicks) * 10,
                (host[2].cpuTicks - host[1].cpuTicks) * 10);
    std::printf("  resident memory   at \"ready\" %lld KiB, after flat out %lld KiB, after paced %lld KiB\n",
                host[0].residentKiB, host[1].residentKiB, host[2].residentKiB);
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::printf("the stand-in core writing 200-byte lines, %d s flat out, then %d s paced at %lu KiB/s\n", seconds,
                seconds, kPacedBytesPerSecond / 1024);
    const Measurement limit = MeasureLimit(seconds);
    const Measurement host = MeasureHost(seconds);
    PrintRun("flat out", limit.flatOut, host.flatOut);
    PrintRun("paced", limit.paced, host.paced);
    PrintHostUse(host.host);
    return 0;
}
