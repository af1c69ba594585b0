// Measures the host with the stand-in core: how soon after the core's API port opens the
// "ready" record appears, what judging the installation costs before the core starts (an
// installation as the tests use it against one with hundreds of rule sets under router), and how
// much CPU time the host spends waiting for a port that never opens and supervising a ready core. Prints figures; asserts nothing. Run by
// hand: scripts/benchmark-host.sh [runs] [seconds].
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/file_io.h"
#include "base/process.h"
#include "base/text.h"
#include "base/win32.h"
#include "linux_process.h"
#include "support/helper_process.h"
#include "support/loopback_port.h"

namespace {

constexpr size_t kReadyRecordBytes = sizeof(R"({"stage":"ready","started":true,"interfaceReady":true})") - 1;
constexpr size_t kWaitRecordBytes = sizeof(R"({"stage":"wait-interface"})") - 1;
// The host gives up on a core that is not ready after 30 s; the waiting host is sampled for less.
constexpr int kLongestWaitSample = 25;
constexpr ULONGLONG kReadyTimeoutMilliseconds = 30000;

double QpcMilliseconds(LONGLONG ticks) {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

LONGLONG QpcNow() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

uint64_t FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes)) return 0;
    return attributes.nFileSizeLow;
}

void RemoveFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") DeleteFileW((folder + L"\\" + name).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

// One host run in a folder of its own, with this benchmark as its client.
class HostRun {
public:
    explicit HostRun(const std::wstring& name) {
        wchar_t temporary[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, temporary);
        folder_ = std::wstring(temporary) + L"keldrix benchmark " + std::to_wstring(GetCurrentProcessId()) + L" " + name;
        CreateDirectoryW(folder_.c_str(), nullptr);
    }
    ~HostRun() {
        if (process_ != nullptr) {
            WriteFileAtomically(Path(L"stop"), "");
            if (WaitForSingleObject(process_, 15000) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
            CloseHandle(process_);
        }
        RemoveFolder(folder_);
    }

    std::wstring Path(const std::wstring& name) const { return folder_ + L"\\" + name; }
    void WriteCoreScript(const std::string& script) const { WriteFileAtomically(Path(L"core.txt"), script); }

    bool Start(const std::wstring& api, const std::wstring& interfaceName,
               const std::wstring& helper = testing_support::HelperPath()) {
        std::wstring commandLine = QuoteArgument(helper);
        for (const std::wstring& argument :
             {std::wstring(L"--host"), std::wstring(L"--config"), Path(L"core.txt"), std::wstring(L"--parent"),
              std::to_wstring(GetCurrentProcessId()), std::wstring(L"--api"), api, std::wstring(L"--interface"),
              interfaceName, std::wstring(L"--state"), Path(L"state"), std::wstring(L"--stop"), Path(L"stop"),
              std::wstring(L"--done"), Path(L"done"), std::wstring(L"--created"),
              std::to_wstring(testing_support::ProcessCreationTime(GetCurrentProcess()))}) {
            commandLine += L" " + QuoteArgument(argument);
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION started{};
        if (!CreateProcessW(helper.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &started)) {
            std::printf("cannot start %s: error %lu\n", ToUtf8(helper).c_str(), GetLastError());
            return false;
        }
        CloseHandle(started.hThread);
        process_ = started.hProcess;
        startedAt_ = QpcNow();
        return true;
    }

    // The QPC value just after the host was created.
    LONGLONG StartedAt() const { return startedAt_; }

    // Waits for the host to end; the QPC value then, or 0 when it did not end in time.
    LONGLONG WaitForEnd() const {
        return WaitForSingleObject(process_, kReadyTimeoutMilliseconds) == WAIT_OBJECT_0 ? QpcNow() : 0;
    }

    // Looks at the state file's size, without opening it, whenever its folder changes; the QPC
    // value when "ready" showed. Waiting on the change, rather than spinning, leaves the processor
    // to the host and the core, as a client's reader would.
    LONGLONG WaitForReady() const { return WaitForStateFileSize(kReadyRecordBytes); }

    LONGLONG WaitForStateFileSize(uint64_t bytes) const {
        const HANDLE change =
            FindFirstChangeNotificationW(folder_.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE);
        const ULONGLONG deadline = GetTickCount64() + kReadyTimeoutMilliseconds;
        LONGLONG seen = 0;
        while (seen == 0 && GetTickCount64() < deadline) {
            if (FileSize(Path(L"state")) == bytes) {
                seen = QpcNow();
            } else if (change == INVALID_HANDLE_VALUE) {
                Sleep(1);
            } else {
                WaitForSingleObject(change, 50);
                FindNextChangeNotification(change);
            }
        }
        if (change != INVALID_HANDLE_VALUE) FindCloseChangeNotification(change);
        return seen;
    }

    double CpuMilliseconds() const {
        FILETIME created{}, exited{}, kernel{}, user{};
        GetProcessTimes(process_, &created, &exited, &kernel, &user);
        return static_cast<double>(FileTimeCount(kernel) + FileTimeCount(user)) / 10000.0;
    }

private:
    std::wstring folder_;
    HANDLE process_ = nullptr;
    LONGLONG startedAt_ = 0;
};

// "min ..., median ..., max ..." of figures in milliseconds.
std::string Spread(std::vector<double> figures) {
    if (figures.empty()) return "no figures";
    std::sort(figures.begin(), figures.end());
    const size_t middle = figures.size() / 2;
    const double median = figures.size() % 2 ? figures[middle] : (figures[middle - 1] + figures[middle]) / 2;
    char text[96];
    std::snprintf(text, sizeof text, "min %.1f ms, median %.1f ms, max %.1f ms", figures.front(), median,
                  figures.back());
    return text;
}

// The QPC value that the stand-in core's "timestamp" wrote; 0 when there is none.
LONGLONG ReadTimestamp(const std::wstring& path) {
    try {
        return std::stoll(ReadWholeFile(path));
    } catch (...) {
        return 0;
    }
}

std::wstring InstalledHelper(const std::wstring& installation) {
    return testing_support::InstallationPath(installation) + L"\\KELDRIX-Network.exe";
}

// From the host's creation to the core's first step, and to "ready"; none when either is missing.
struct Startup {
    double toCore = 0;
    double toReady = 0;
};

std::optional<Startup> TimeStartup(const std::wstring& installation, const std::wstring& name) {
    const uint16_t port = testing_support::FreeLoopbackPort();
    HostRun host(name);
    host.WriteCoreScript("timestamp " + ToUtf8(host.Path(L"core-started")) + "\nlisten " + std::to_string(port) +
                         "\n");
    if (!host.Start(std::to_wstring(port), L"lo", InstalledHelper(installation))) return std::nullopt;
    const LONGLONG ready = host.WaitForReady();
    const LONGLONG coreStarted = ReadTimestamp(host.Path(L"core-started"));
    if (ready == 0 || coreStarted == 0) {
        std::printf("%s: no ready record or no core start\n", ToUtf8(name).c_str());
        return std::nullopt;
    }
    return Startup{QpcMilliseconds(coreStarted - host.StartedAt()), QpcMilliseconds(ready - host.StartedAt())};
}

// The host judges its whole installation before it creates the core. Each round starts a host in
// the installation the tests use (the core, two DLLs and a folder of two rule sets: 6 entries under
// router) and then in one with 400 rule sets (404 entries); the difference within a round leaves
// out most of what the load of the moment adds to both. Then a host walks more than it may (4097
// entries) and refuses.
void MeasureInstallationCheck(int runs) {
    std::vector<double> toCore[2], toReady[2], walk, refused;
    for (int run = 0; run < runs; ++run) {
        const std::optional<Startup> small = TimeStartup(L"installed", L"installed " + std::to_wstring(run));
        const std::optional<Startup> full = TimeStartup(L"full-size", L"full-size " + std::to_wstring(run));
        if (small && full) {
            toCore[0].push_back(small->toCore);
            toReady[0].push_back(small->toReady);
            toCore[1].push_back(full->toCore);
            toReady[1].push_back(full->toReady);
            walk.push_back(full->toCore - small->toCore);
        }
        HostRun host(L"too large " + std::to_wstring(run));
        host.WriteCoreScript("");
        if (!host.Start(L"1", L"lo", InstalledHelper(L"too-large"))) return;
        const LONGLONG ended = host.WaitForEnd();
        if (ended != 0) refused.push_back(QpcMilliseconds(ended - host.StartedAt()));
    }
    std::printf("the installation judged before the core starts, %zu rounds:\n", walk.size());
    const char* names[] = {"installed (6 entries)", "full-size (404 entries)"};
    for (size_t which = 0; which < 2; ++which) {
        std::printf("  %s: host created -> core's first step: %s\n", names[which], Spread(toCore[which]).c_str());
        std::printf("  %s: host created -> \"ready\" record: %s\n", names[which], Spread(toReady[which]).c_str());
    }
    std::printf("  398 entries more (full-size less installed, same round), to the core's first step: %s\n",
                Spread(walk).c_str());
    std::printf("  too-large (4097 entries, refused): host created -> host ended: %s\n", Spread(refused).c_str());
}

void MeasureReadinessLatency(int runs) {
    std::vector<double> latencies;
    for (int run = 0; run < runs; ++run) {
        const uint16_t port = testing_support::FreeLoopbackPort();
        HostRun host(L"ready " + std::to_wstring(run));
        // Opening times spread over the host's polling cycle: 100 ms of sleep plus up to
        // 100 ms of a probe that waits out a closed port.
        const int delay = 300 + (run * 37) % 250;
        host.WriteCoreScript("sleep " + std::to_string(delay) + "\nlisten " + std::to_string(port) + "\ntimestamp " +
                             ToUtf8(host.Path(L"port-open")) + "\n");
        if (!host.Start(std::to_wstring(port), L"lo")) return;
        const LONGLONG ready = host.WaitForReady();
        const LONGLONG portOpen = ReadTimestamp(host.Path(L"port-open"));
        if (ready == 0 || portOpen == 0) {
            std::printf("run %d: no ready record or no port-open time\n", run);
            continue;
        }
        latencies.push_back(QpcMilliseconds(ready - portOpen));
    }
    if (latencies.empty()) return;
    std::printf("readiness detection latency (API port open -> \"ready\" record), %zu runs:\n", latencies.size());
    std::printf("  %s\n", Spread(latencies).c_str());
}

// The host's CPU time over `seconds`, from now, as Wine and as Linux count it.
void SampleHostCpu(const HostRun& host, const char* what, int seconds) {
    const std::vector<std::string> hostMarker = {"KELDRIX-Network.exe", "--host", ToUtf8(host.Path(L"core.txt"))};
    const double before = host.CpuMilliseconds();
    const long long linuxBefore = ReadLinuxProcessFigures(hostMarker).cpuTicks;
    Sleep(static_cast<DWORD>(seconds) * 1000);
    const double used = host.CpuMilliseconds() - before;
    const long long linuxAfter = ReadLinuxProcessFigures(hostMarker).cpuTicks;
    std::printf("host CPU time %s, sampled over %d s:\n", what, seconds);
    std::printf("  GetProcessTimes: %.1f ms = %.1f ms per minute\n", used, used * 60.0 / seconds);
    if (linuxBefore >= 0 && linuxAfter >= 0) {
        const double linuxUsed = static_cast<double>(linuxAfter - linuxBefore) * 10.0;  // 100 ticks a second
        std::printf("  Linux /proc (the Wine process behind the host): %.0f ms = %.1f ms per minute\n", linuxUsed,
                    linuxUsed * 60.0 / seconds);
    }
}

// A core that never opens its port: the host waits for it until its 30 s are up.
void MeasureWaitingCpu(int seconds) {
    HostRun host(L"wait");
    host.WriteCoreScript("stdout never listening\n");
    if (!host.Start(std::to_wstring(testing_support::FreeLoopbackPort()), L"lo") ||
        host.WaitForStateFileSize(kWaitRecordBytes) == 0) {
        std::printf("waiting: the host did not begin to wait\n");
        return;
    }
    SampleHostCpu(host, "while waiting for a port that never opens", std::min(seconds, kLongestWaitSample));
}

void MeasureSupervisionCpu(int seconds) {
    const uint16_t port = testing_support::FreeLoopbackPort();
    HostRun host(L"supervise");
    host.WriteCoreScript("listen " + std::to_string(port) + "\n");
    if (!host.Start(std::to_wstring(port), L"lo") || host.WaitForReady() == 0) {
        std::printf("supervision: the host did not become ready\n");
        return;
    }
    SampleHostCpu(host, "while supervising a ready core", seconds);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 25;
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 60;
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    WSADATA winsock{};
    WSAStartup(MAKEWORD(2, 2), &winsock);
    MeasureReadinessLatency(runs);
    MeasureInstallationCheck(runs);
    MeasureWaitingCpu(seconds);
    MeasureSupervisionCpu(seconds);
    WSACleanup();
    return 0;
}
