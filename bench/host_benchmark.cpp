// Measures the host with the stand-in core: how soon after the core's API port opens the
// "ready" record appears, and how much CPU time the host spends supervising a ready core.
// Prints figures; asserts nothing. Run by hand: scripts/benchmark-host.sh [runs] [seconds].
#include <algorithm>
#include <cstdio>
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

    bool Start(const std::wstring& api, const std::wstring& interfaceName) {
        const std::wstring helper = testing_support::HelperPath();
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
        return true;
    }

    // Polls the state file's size without opening it; the QPC value when "ready" showed.
    LONGLONG WaitForReady() const {
        const ULONGLONG deadline = GetTickCount64() + kReadyTimeoutMilliseconds;
        while (GetTickCount64() < deadline) {
            if (FileSize(Path(L"state")) == kReadyRecordBytes) return QpcNow();
            SwitchToThread();
        }
        return 0;
    }

    double CpuMilliseconds() const {
        FILETIME created{}, exited{}, kernel{}, user{};
        GetProcessTimes(process_, &created, &exited, &kernel, &user);
        return static_cast<double>(FileTimeCount(kernel) + FileTimeCount(user)) / 10000.0;
    }

private:
    std::wstring folder_;
    HANDLE process_ = nullptr;
};

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
        LONGLONG portOpen = 0;
        try {
            portOpen = std::stoll(ReadWholeFile(host.Path(L"port-open")));
        } catch (...) {
        }
        if (ready == 0 || portOpen == 0) {
            std::printf("run %d: no ready record or no port-open time\n", run);
            continue;
        }
        latencies.push_back(QpcMilliseconds(ready - portOpen));
    }
    if (latencies.empty()) return;
    std::sort(latencies.begin(), latencies.end());
    const double median = latencies.size() % 2 ? latencies[latencies.size() / 2]
                                               : (latencies[latencies.size() / 2 - 1] + latencies[latencies.size() / 2]) / 2;
    std::printf("readiness detection latency (API port open -> \"ready\" record), %zu runs:\n", latencies.size());
    std::printf("  min %.1f ms, median %.1f ms, max %.1f ms\n", latencies.front(), median, latencies.back());
}

void MeasureSupervisionCpu(int seconds) {
    const uint16_t port = testing_support::FreeLoopbackPort();
    HostRun host(L"supervise");
    host.WriteCoreScript("listen " + std::to_string(port) + "\n");
    if (!host.Start(std::to_wstring(port), L"lo") || host.WaitForReady() == 0) {
        std::printf("supervision: the host did not become ready\n");
        return;
    }
    const std::vector<std::string> hostMarker = {"KELDRIX-Network.exe", "--host", ToUtf8(host.Path(L"core.txt"))};
    const double before = host.CpuMilliseconds();
    const long long linuxBefore = ReadLinuxProcessFigures(hostMarker).cpuTicks;
    Sleep(static_cast<DWORD>(seconds) * 1000);
    const double used = host.CpuMilliseconds() - before;
    const long long linuxAfter = ReadLinuxProcessFigures(hostMarker).cpuTicks;
    std::printf("host CPU time while supervising a ready core, sampled over %d s:\n", seconds);
    std::printf("  GetProcessTimes: %.1f ms = %.1f ms per minute\n", used, used * 60.0 / seconds);
    if (linuxBefore >= 0 && linuxAfter >= 0) {
        const double linuxUsed = static_cast<double>(linuxAfter - linuxBefore) * 10.0;  // 100 ticks a second
        std::printf("  Linux /proc (the Wine process behind the host): %.0f ms = %.1f ms per minute\n", linuxUsed,
                    linuxUsed * 60.0 / seconds);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 25;
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 60;
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    WSADATA winsock{};
    WSAStartup(MAKEWORD(2, 2), &winsock);
    MeasureReadinessLatency(runs);
    MeasureSupervisionCpu(seconds);
    WSACleanup();
    return 0;
}
