// Every Windows call the helper makes, failed in turn. A counting run of each scenario with the
// injected helper (tests/injector) lists every imported function and call site reached and how
// often; then each site's first call is failed, and its middle or last where it is reached more
// than once (more calls spread over its count at a larger scale), each in a run of its own with
// an error that fits the function. Every run must end soundly: within bounds, without a crash,
// and with what the scenario's files, processes and proxy settings must show.
#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "base/text.h"
#include "campaigns.h"
#include "proxy/proxy_snapshot_record.h"
#include "support/file_watch.h"
#include "support/helper_process.h"
#include "support/host_connection.h"
#include "support/proxy/logon_restores.h"
#include "support/proxy/stand_in_wininet_control.h"
#include "support/running_processes.h"
#include "support/temp_directory.h"
#include "user_settings.h"

namespace {

using namespace testing_support;
using namespace host_testing;
using namespace proxy_testing;

// One call to fail: the nth call of `function` from the call site `site` (an offset into the
// injected helper), with `error`. An empty function: a counting run.
struct Injection {
    std::string function;
    uint32_t site = 0;
    uint64_t nth = 0;
    uint32_t error = 0;
};

// One line of a counting run's census; `error` is 0 for a function that has no failure value.
struct CensusSite {
    std::string function;
    uint32_t site = 0;
    uint64_t calls = 0;
    uint32_t error = 0;
};

// A scenario runs the injected helper once under the injection (writing the census there) and
// says what ended unsoundly; empty when it ended soundly. Those whose runs share nothing (no
// proxy settings) run `kSideBySide` runs at a time.
struct CallFailureScenario {
    std::string name;
    std::string (*run)(Campaign&, const Injection&, const std::wstring& census);
    bool sideBySide = false;
};
constexpr size_t kSideBySide = 4;

constexpr DWORD kRunLimitMilliseconds = 40000;
constexpr DWORD kReadyLimitMilliseconds = 15000;
constexpr DWORD kGraceMilliseconds = 5000;
constexpr DWORD kAbortExitCode = 3;  // the C runtime's abort()
constexpr DWORD kLeftRunningExitCode = 0xDEAD;

// An empty script: the stand-in core idles until it is ended. Outside every connection's
// folder, so that a client is never taken for a core.
const std::wstring& IdleScript() {
    static const TemporaryDirectory directory;
    static const std::wstring script = [] {
        const std::wstring path = directory / L"idle";
        WriteFileBytes(path, "");
        return path;
    }();
    return script;
}

std::wstring InjectedHelperPath() { return InstallationPath(L"injected") + L"\\KELDRIX-Network.exe"; }

// The environment the injected helper reads, set only while one run starts; runs started side
// by side take it in turns.
class InjectionEnvironment {
public:
    InjectionEnvironment(const Injection& injection, const std::wstring& census) : lock_(Mutex()) {
        if (!injection.function.empty()) {
            std::wostringstream plan;
            plan << Wide(injection.function) << L'@' << std::hex << injection.site << L'#' << std::dec
                 << injection.nth << L'=' << injection.error;
            SetEnvironmentVariableW(L"KELDRIX_INJECT", plan.str().c_str());
        }
        SetEnvironmentVariableW(L"KELDRIX_CENSUS", census.c_str());
    }
    ~InjectionEnvironment() {
        SetEnvironmentVariableW(L"KELDRIX_INJECT", nullptr);
        SetEnvironmentVariableW(L"KELDRIX_CENSUS", nullptr);
    }
    static std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

private:
    static std::mutex& Mutex() {
        static std::mutex mutex;
        return mutex;
    }
    std::lock_guard<std::mutex> lock_;
};

bool Is(const Injection& injection, std::initializer_list<const char*> functions) {
    for (const char* function : functions) {
        if (injection.function == function) return true;
    }
    return false;
}

// Calls through which the helper writes a client's file: a refused one may leave that file
// unwritten (the earlier content whole).
bool FailsAFileWrite(const Injection& injection) {
    return Is(injection, {"CreateFileW", "WriteFile", "FlushFileBuffers", "MoveFileExW", "SetFileInformationByHandle",
                          "GetFileInformationByHandle", "GetFinalPathNameByHandleW", "SetThreadToken",
                          "DeleteFileW"});
}

// Where the exit code says the run ended unsoundly; empty when it did not.
std::string JudgeExit(DWORD exitCode, const Injection& injection) {
    if (exitCode == STILL_ACTIVE) return " did not end within its bounds;";
    if (exitCode >= 0xC0000000) return " crashed with exception " + std::to_string(exitCode) + ";";
    if (exitCode == kAbortExitCode && !Is(injection, {"RevertToSelf"})) return " aborted;";
    return "";
}

bool IsOneWholeRecord(const std::string& bytes) {
    static const std::regex failure(R"(\{"stage":"[a-z-]+","ipv6Disabled":(true|false),"failed":true,)"
                                    R"("code":"[A-Z0-9_]+","win32":\d+,"exitCode":\d+\})");
    return bytes == kStartCoreRecord || bytes == kWaitInterfaceRecord || bytes == kReadyRecord ||
           std::regex_match(bytes, failure);
}

std::vector<DWORD> CoresOf(const std::wstring& folder) {
    std::vector<DWORD> cores;
    for (DWORD id : ProcessIdsByImageName(L"sing-box.exe")) {
        if (!ProcessHasEnded(id) && ProcessCommandLine(id).find(folder) != std::wstring::npos) cores.push_back(id);
    }
    return cores;
}

// What a connection's host must leave once it has ended: one whole record, the done marker, no
// core. Ends what it finds left.
std::string JudgeHostEnding(const HostConnection& connection, DWORD exitCode, const Injection& injection) {
    std::string unsound = JudgeExit(exitCode, injection);
    if (!WaitUntil([&] { return CoresOf(connection.directory.Path()).empty(); }, kGraceMilliseconds)) {
        unsound += " a core left running;";
        for (DWORD id : CoresOf(connection.directory.Path())) EndProcess(id);
    }
    if (PathExists(connection.state) && !IsOneWholeRecord(ReadFileBytes(connection.state))) {
        unsound += " state file not one whole record: " + ReadFileBytes(connection.state) + ";";
    }
    // The core that was created runs only once it is known to be the one checked: where its image
    // cannot be asked for, it never runs.
    if (Is(injection, {"QueryFullProcessImageNameW"}) &&
        (exitCode != 1 || ReadFileBytes(connection.state) != FailureRecord("start-core", "ACCESS_DENIED", 5, 0))) {
        unsound += " a core whose image was not compared: exit " + std::to_string(exitCode) + ";";
    }
    // A thread that cannot stop impersonating ends the process on purpose, writing nothing more;
    // without the client's token the host writes nothing, as documented, and exits 1.
    if (exitCode == kAbortExitCode) return unsound;
    const bool tokenRefused = exitCode == 1 && !PathExists(connection.state) && !PathExists(connection.done);
    // Without its arguments the helper knows no path to write: exit 2 and nothing else.
    const bool argumentsRefused = exitCode == 2 && !PathExists(connection.state) && !PathExists(connection.done) &&
                                  Is(injection, {"CommandLineToArgvW", "malloc", "realloc", "calloc"});
    if (tokenRefused || argumentsRefused || FailsAFileWrite(injection)) return unsound;
    // A stop seen before the core starts ends the host with the done marker alone.
    if (exitCode != 0 && !PathExists(connection.state)) unsound += " exit " + std::to_string(exitCode) + ", no record;";
    if (!PathExists(connection.done)) unsound += " no done marker;";
    return unsound;
}

enum class HostEnding { StopAfterReady, CoreFailsBeforeReady, ClientEnds };

std::string RunHost(HostEnding ending, const Injection& injection, const std::wstring& census) {
    HostConnection connection;
    ChildProcess client(StandInCorePath(), {L"run", L"-c", IdleScript()});
    connection.clientId = client.Id();
    connection.clientCreated = client.CreationTime();
    connection.WriteCoreScript(ending == HostEnding::CoreFailsBeforeReady
                                   ? "stderr FATAL[0000] start service: bind: address already in use\nexit 1\n"
                                   : "listen " + std::to_string(connection.apiPort) + "\n");
    std::vector<std::wstring> arguments = connection.HostArguments();
    std::optional<ChildProcess> host;
    {
        const InjectionEnvironment environment(injection, census);
        host.emplace(InjectedHelperPath(), arguments);
    }
    if (ending != HostEnding::CoreFailsBeforeReady) {
        WaitUntil([&] { return !host->IsRunning() || FileSizeWithoutOpening(connection.state) == kReadyRecord.size(); },
                  kReadyLimitMilliseconds);
        if (ending == HostEnding::StopAfterReady) WriteFileBytes(connection.stop, "");
        if (ending == HostEnding::ClientEnds) client.Terminate();
    }
    DWORD exitCode = host->Wait(kRunLimitMilliseconds);
    if (exitCode == STILL_ACTIVE) host->Terminate(kLeftRunningExitCode);
    return JudgeHostEnding(connection, exitCode, injection);
}

// Proxy runs: the user's settings in the WinINet stand-in before, checked after.
class ProxyScene {
public:
    explicit ProxyScene(Campaign& campaign) : user_(RandomUserSettings(campaign)) {
        standIn_.ClearControls();
        standIn_.SetSettings(user_);
        RemoveRegisteredLogonRestores();
        RemoveSnapshotRecord();
    }

    ProcessResult Run(const std::vector<std::wstring>& arguments, const Injection& injection,
                      const std::wstring& census) {
        const InjectionEnvironment environment(injection, census);
        return RunProgram(InjectedHelperPath(), arguments, kRunLimitMilliseconds);
    }
    std::vector<std::wstring> Enable() const { return {L"--proxy-enable", L"--state", state_, L"--port", L"3080"}; }
    std::vector<std::wstring> Restore() const { return {L"--proxy-restore", L"--state", state_}; }
    const std::wstring& State() const { return state_; }

    // The proxy verbs' promise: an error line carries a Win32 error; and whatever the run did,
    // the user's settings are in force, or the helper's with a snapshot from which a restore
    // puts them back exactly. Ends with the user's settings and no snapshot.
    std::string Judge(const ProcessResult& result, const Injection& injection) {
        std::string unsound = JudgeExit(result.timedOut ? STILL_ACTIVE : result.exitCode, injection);
        static const std::regex errorLine(R"(.*"stage":"proxy-error","code":"PROXY_CONFIG_ERROR","win32":(\d+)\})");
        std::smatch match;
        if (std::regex_match(result.output, match, errorLine) && match[1] == "0") unsound += " error line without error;";
        if (result.exitCode == 1 && result.output.empty() && !Is(injection, {"WriteFile", "GetStdHandle"})) {
            unsound += " exit 1 without an error line;";
        }
        const bool userSettings = standIn_.Settings() == user_;
        if (!userSettings && !PathExists(state_)) unsound += " settings changed without a snapshot;";
        const ProcessResult restore = RunHelper(Restore(), kRunLimitMilliseconds);
        if (restore.exitCode != 0) unsound += " the restore after it failed: " + restore.output + ";";
        if (standIn_.Settings() != user_) {
            unsound += " user settings lost: " + DescribeSettings(standIn_.Settings()) + ";";
        }
        if (PathExists(state_)) unsound += " snapshot left;";
        if (!RecordIsEmpty()) unsound += " live snapshot left in the record;";
        DeleteFileW(state_.c_str());
        RemoveRegisteredLogonRestores();
        RemoveSnapshotRecord();
        standIn_.SetSettings(user_);
        return unsound;
    }

    StandInSettings Settings() const { return standIn_.Settings(); }
    const StandInSettings& User() const { return user_; }

private:
    static bool RecordIsEmpty() {
        try {
            return ReadSnapshotRecord().empty();
        } catch (Win32Error) {
            return false;
        }
    }

    StandInWinInet standIn_;
    TemporaryDirectory directory_;
    std::wstring state_ = directory_ / L"proxy state";
    StandInSettings user_;
};

std::string RunProxyEnable(Campaign& campaign, const Injection& injection, const std::wstring& census) {
    ProxyScene scene(campaign);
    const ProcessResult result = scene.Run(scene.Enable(), injection, census);
    std::string unsound;
    if (result.exitCode == 0 && scene.Settings() == scene.User()) unsound += " exit 0 without the helper's proxy;";
    return unsound + scene.Judge(result, injection);
}

std::string RunProxyRestore(Campaign& campaign, const Injection& injection, const std::wstring& census) {
    ProxyScene scene(campaign);
    if (RunHelper(scene.Enable(), kRunLimitMilliseconds).exitCode != 0) return " the enable before it failed;";
    const std::string snapshot = ReadFileBytes(scene.State());
    const ProcessResult result = scene.Run(scene.Restore(), injection, census);
    std::string unsound;
    if (PathExists(scene.State()) && ReadFileBytes(scene.State()) != snapshot) unsound += " snapshot torn;";
    if (result.exitCode == 0 && (PathExists(scene.State()) || scene.Settings() != scene.User())) {
        unsound += " exit 0 without the user's settings back;";
    }
    return unsound + scene.Judge(result, injection);
}

std::string RunProxyStatus(Campaign& campaign, const Injection& injection, const std::wstring& census) {
    ProxyScene scene(campaign);
    const ProcessResult result =
        scene.Run({L"--proxy-status", L"--state", scene.State(), L"--port", L"3080"}, injection, census);
    std::string unsound;
    if (scene.Settings() != scene.User() || PathExists(scene.State())) unsound += " a status run changed something;";
    return unsound + scene.Judge(result, injection);
}

// The guard with the helper's proxy in force: while the client lives it touches nothing; once
// the client ends, the core ends, the user's settings come back and the configuration goes.
std::string RunGuard(Campaign& campaign, const Injection& injection, const std::wstring& census) {
    ProxyScene scene(campaign);
    if (RunHelper(scene.Enable(), kRunLimitMilliseconds).exitCode != 0) return " the enable before it failed;";
    TemporaryDirectory directory;
    const std::wstring config = directory / L"core config.txt";
    WriteFileBytes(config, "");
    ChildProcess client(StandInCorePath(), {L"run", L"-c", config});
    ChildProcess core(StandInCorePath(), {L"run", L"-c", config});
    std::optional<ChildProcess> guard;
    {
        const InjectionEnvironment environment(injection, census);
        guard.emplace(InjectedHelperPath(),
                      std::vector<std::wstring>{L"--guard", L"--parent", std::to_wstring(client.Id()), L"--core",
                                                std::to_wstring(core.Id()), L"--state", scene.State(), L"--config",
                                                config});
    }
    std::string unsound;
    Sleep(1000);
    if (scene.Settings() == scene.User() || !PathExists(config) || !core.IsRunning()) {
        unsound += " the connection was torn down while the client ran;";
    }
    client.Terminate();
    const DWORD exitCode = guard->Wait(kRunLimitMilliseconds);
    if (exitCode == STILL_ACTIVE) guard->Terminate(kLeftRunningExitCode);
    unsound += JudgeExit(exitCode, injection);
    if (exitCode != 0 && exitCode != 1 && exitCode != 2 && exitCode != STILL_ACTIVE) {
        unsound += " exit code " + std::to_string(exitCode) + ";";
    }
    if (exitCode == 0 && core.Wait(kGraceMilliseconds) == STILL_ACTIVE &&
        !Is(injection, {"TerminateProcess", "OpenProcess"})) {
        unsound += " the core still runs;";
    }
    if (exitCode == 0 && PathExists(config) && !Is(injection, {"DeleteFileW"})) unsound += " configuration left;";
    return unsound + scene.Judge(ProcessResult{0, "", false}, injection);
}

// The launcher: exit 0 and a host that runs the connection to its end, or another exit and no
// host at all.
std::string RunLaunch(const Injection& injection, const std::wstring& census) {
    HostConnection connection;
    ChildProcess client(StandInCorePath(), {L"run", L"-c", IdleScript()});
    connection.clientId = client.Id();
    connection.WriteCoreScript("listen " + std::to_string(connection.apiPort) + "\n");
    std::vector<std::wstring> arguments = connection.HostArguments();
    arguments[0] = L"--launch";
    arguments.resize(arguments.size() - 2);  // no "--created": the launcher adds it
    ProcessResult result;
    {
        const InjectionEnvironment environment(injection, census);
        result = RunProgram(InjectedHelperPath(), arguments, kRunLimitMilliseconds);
    }
    std::string unsound = JudgeExit(result.timedOut ? STILL_ACTIVE : result.exitCode, injection);
    if (result.exitCode == 0) {
        if (!WaitForReadyRecord(connection, kReadyLimitMilliseconds)) unsound += " exit 0 but no host got ready;";
        WriteFileBytes(connection.stop, "");
        if (!WaitUntil([&] { return PathExists(connection.done); }, kRunLimitMilliseconds)) {
            unsound += " the host never wrote its done marker;";
        }
    } else {
        // The top-level handler records "helper-exception"; a host would record its stages.
        Sleep(1000);
        const std::string record = PathExists(connection.state) ? ReadFileBytes(connection.state) : "";
        if (!record.empty() && record.find(R"("stage":"helper-exception")") == std::string::npos) {
            unsound += " exit " + std::to_string(result.exitCode) + " but a host ran;";
        }
    }
    if (!WaitUntil([&] { return CoresOf(connection.directory.Path()).empty(); }, kGraceMilliseconds)) {
        unsound += " a core left running;";
        for (DWORD id : CoresOf(connection.directory.Path())) EndProcess(id);
    }
    return unsound;
}

std::string RunCapabilities(const Injection& injection, const std::wstring& census) {
    ProcessResult result;
    {
        const InjectionEnvironment environment(injection, census);
        result = RunProgram(InjectedHelperPath(), {L"--network-capabilities"}, kRunLimitMilliseconds);
    }
    std::string unsound = JudgeExit(result.timedOut ? STILL_ACTIVE : result.exitCode, injection);
    const bool report = result.output == R"({"ipv6Disabled":true})" || result.output == R"({"ipv6Disabled":false})";
    const bool unwritten = result.output.empty() && Is(injection, {"WriteFile", "GetStdHandle"});
    if (result.exitCode == 0 && !report && !unwritten) unsound += " exit 0 with the output " + result.output + ";";
    if (result.exitCode != 0 && result.exitCode != 2 && unsound.empty()) {
        unsound += " exit " + std::to_string(result.exitCode) + ";";
    }
    return unsound;
}

const std::vector<CallFailureScenario>& CallFailureScenarios() {
    static const std::vector<CallFailureScenario> scenarios = {
        {"host: ready, then stop", [](Campaign&, const Injection& i, const std::wstring& c) {
             return RunHost(HostEnding::StopAfterReady, i, c);
         }, true},
        {"host: core fails before ready", [](Campaign&, const Injection& i, const std::wstring& c) {
             return RunHost(HostEnding::CoreFailsBeforeReady, i, c);
         }, true},
        {"host: client ends", [](Campaign&, const Injection& i, const std::wstring& c) {
             return RunHost(HostEnding::ClientEnds, i, c);
         }, true},
        {"--proxy-enable", RunProxyEnable},
        {"--proxy-restore", RunProxyRestore},
        {"--proxy-status", RunProxyStatus},
        {"--guard, client ends", RunGuard},
        {"--launch", [](Campaign&, const Injection& i, const std::wstring& c) { return RunLaunch(i, c); }, true},
        {"--network-capabilities",
         [](Campaign&, const Injection& i, const std::wstring& c) { return RunCapabilities(i, c); }, true},
    };
    return scenarios;
}

std::vector<CensusSite> ReadCensus(const std::wstring& path) {
    std::vector<CensusSite> sites;
    std::istringstream lines(ReadFileBytes(path));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        CensusSite site;
        fields >> site.function >> std::hex >> site.site >> std::dec >> site.calls >> site.error;
        if (fields && site.function != "injected") sites.push_back(site);
    }
    return sites;
}

bool CensusShowsInjection(const std::wstring& path) {
    return ReadFileBytes(path).find("injected ") != std::string::npos;
}

std::vector<uint64_t> CallsToFail(uint64_t calls, int scale) {
    std::set<uint64_t> chosen = {1};
    if (calls > 1) chosen.insert(calls > 2 ? (calls + 1) / 2 : calls);
    for (int extra = 1; extra < scale && calls > 2; ++extra) chosen.insert(1 + calls * extra / scale);
    return {chosen.begin(), chosen.end()};
}

std::string DescribeInjection(const Injection& injection) {
    std::ostringstream text;
    text << injection.function << '@' << std::hex << injection.site << std::dec << '#' << injection.nth << '='
         << injection.error;
    return text.str();
}

// One function whose call sites the sample fails in one scenario. One that must be called there
// counts as unsound where it never is: a check that is skipped fails nothing.
struct SampledFunction {
    std::string scenario;
    std::string function;
    bool mustBeCalled = false;
};

class CallFailures {
public:
    explicit CallFailures(Campaign& campaign) : campaign_(campaign) {}

    // Every scenario, every failable call site; or, for the sample, only the sites of the
    // functions it names, first calls only.
    void Run(const std::vector<SampledFunction>& sample = {}) {
        if (!InstallStandInWinInet()) {
            campaign_.ZeroRow("WinINet stand-in could not be put in place", 1);
            return;
        }
        uint64_t unsoundTotal = 0;
        for (const CallFailureScenario& scenario : CallFailureScenarios()) {
            if (sample.empty()) unsoundTotal += RunScenario(scenario, {});
            for (const SampledFunction& sampled : sample) {
                if (sampled.scenario == scenario.name) unsoundTotal += RunScenario(scenario, sampled);
            }
        }
        campaign_.ZeroRow("unsound endings, all scenarios", unsoundTotal);
    }

private:
    struct Outcome {
        bool fired = false;
        std::string unsound;
    };

    // Each injection in a run of its own, side by side where the scenario allows.
    std::vector<Outcome> RunAll(const CallFailureScenario& scenario, const std::vector<Injection>& injections) {
        std::vector<Outcome> outcomes(injections.size());
        std::atomic<size_t> next{0};
        auto work = [&] {
            for (size_t i = next++; i < injections.size(); i = next++) {
                const std::wstring census = directory_ / (L"census " + std::to_wstring(i) + L".txt");
                outcomes[i].unsound = scenario.run(campaign_, injections[i], census);
                outcomes[i].fired = CensusShowsInjection(census);
                DeleteFileW(census.c_str());
            }
        };
        std::vector<std::thread> workers;
        for (size_t w = 1; scenario.sideBySide && w < kSideBySide; ++w) workers.emplace_back(work);
        work();
        for (std::thread& worker : workers) worker.join();
        return outcomes;
    }

    uint64_t RunScenario(const CallFailureScenario& scenario, const SampledFunction& sampled) {
        const std::string& onlyFunction = sampled.function;
        const std::wstring census = directory_ / L"census.txt";
        DeleteFileW(census.c_str());
        const std::string counting = scenario.run(campaign_, Injection{}, census);
        const std::vector<CensusSite> sites = ReadCensus(census);
        std::set<std::string> functions;
        uint64_t failable = 0, injected = 0, fired = 0, sound = 0, unsound = 0, firstCallsMissed = 0;
        std::vector<Injection> injections;
        for (const CensusSite& site : sites) {
            functions.insert(site.function);
            if (site.error == 0 || (!onlyFunction.empty() && site.function != onlyFunction)) continue;
            ++failable;
            const std::vector<uint64_t> calls =
                onlyFunction.empty() ? CallsToFail(site.calls, campaign_.Scale()) : std::vector<uint64_t>{1};
            for (uint64_t nth : calls) injections.push_back(Injection{site.function, site.site, nth, site.error});
        }
        const std::vector<Outcome> outcomes = RunAll(scenario, injections);
        for (size_t i = 0; i < injections.size(); ++i) {
            ++injected;
            if (outcomes[i].fired) ++fired;
            if (!outcomes[i].fired && injections[i].nth == 1) ++firstCallsMissed;
            if (outcomes[i].unsound.empty()) {
                ++sound;
                continue;
            }
            ++unsound;
            campaign_.Note(item_ + i, scenario.name + ": " + DescribeInjection(injections[i]) + ":" + outcomes[i].unsound);
        }
        item_ += injections.size();
        campaign_.Row(scenario.name + (onlyFunction.empty() ? "" : ", " + onlyFunction + " only"), "");
        campaign_.Row("  functions / call sites reached (of them failable)",
                      std::to_string(functions.size()) + " / " + std::to_string(sites.size()) + " (" +
                          std::to_string(failable) + ")");
        campaign_.Row("  failures injected (the call reached again) / planned", OutOf(fired, injected));
        campaign_.Row("  sites whose first call the failing run did not reach", std::to_string(firstCallsMissed));
        campaign_.Row("  sound endings", OutOf(sound, injected));
        if (!counting.empty()) {
            ++unsound;
            campaign_.Note(item_, scenario.name + ": the counting run:" + counting);
        }
        if (sampled.mustBeCalled && failable == 0) {
            ++unsound;
            campaign_.Note(item_, scenario.name + ": " + onlyFunction + " is never called");
        }
        campaign_.ZeroRow("  unsound endings (the counting run's included)", unsound);
        return unsound;
    }

    Campaign& campaign_;
    TemporaryDirectory directory_;
    size_t item_ = 0;
};

}  // namespace

void RunCallFailures(Campaign& campaign) { CallFailures(campaign).Run(); }

// A few scenarios with every call site of one function failed, for the tests.
void RunCallFailureSample(Campaign& campaign) {
    CallFailures(campaign).Run({{"host: ready, then stop", "CreateFileW"},
                                {"host: ready, then stop", "QueryFullProcessImageNameW", true},
                                {"--proxy-enable", "CreateFileW"},
                                {"--network-capabilities", "malloc"},
                                // No site of these two is reached in the host: only the runtime's
                                // guard of function-local statics, left out of the build, would call
                                // them, and they are here to fail it should it come back.
                                {"host: ready, then stop", "calloc"},
                                {"host: ready, then stop", "DuplicateHandle"},
                                {"--proxy-restore", "GetFileAttributesW"},
                                {"--guard, client ends", "OpenProcess"},
                                {"--guard, client ends", "WaitForMultipleObjects"},
                                {"--guard, client ends", "GetFileInformationByHandle"}});
}
