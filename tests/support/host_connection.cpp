#include "support/host_connection.h"

#include <cctype>
#include <optional>

#include "base/process.h"
#include "base/system_info.h"
#include "base/text.h"
#include "support/file_watch.h"
#include "support/loopback_port.h"

namespace host_testing {

using namespace testing_support;

namespace {

constexpr DWORD kHostEndMilliseconds = 30000;

DWORD ProcessIdIn(const std::string& text) { return text.empty() ? 0 : std::stoul(text); }

// Writes the file in place, waiting for a moment when no reader holds it.
bool OverwriteWhileRead(const std::wstring& path, const std::string& content) {
    return WaitUntil(
        [&] {
            HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
            if (file == INVALID_HANDLE_VALUE) return false;
            DWORD written = 0;
            WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
            CloseHandle(file);
            return true;
        },
        10000);
}

}  // namespace

std::string FailureRecord(const std::string& stage, const std::string& code, uint32_t win32, uint32_t exitCode) {
    return R"({"stage":")" + stage + R"(","ipv6Disabled":)" + (IsIpv6Disabled() ? "true" : "false") +
           R"(,"failed":true,"code":")" + code + R"(","win32":)" + std::to_string(win32) +
           R"(,"exitCode":)" + std::to_string(exitCode) + "}";
}

std::string AlternateCase(std::string text) {
    bool upper = true;
    for (char& c : text) {
        if (!std::isalpha(static_cast<unsigned char>(c))) continue;
        c = static_cast<char>(upper ? std::toupper(static_cast<unsigned char>(c))
                                    : std::tolower(static_cast<unsigned char>(c)));
        upper = !upper;
    }
    return text;
}

HostConnection::HostConnection()
    : apiPort(FreeLoopbackPort()),
      api(std::to_wstring(apiPort)),
      clientId(GetCurrentProcessId()),
      clientCreated(ProcessCreationTime(GetCurrentProcess())) {}

void HostConnection::WriteCoreScript(const std::string& script) const { WriteFileBytes(config, script); }

std::vector<std::wstring> HostConnection::HostArguments() const {
    return {L"--host",      L"--config", config, L"--parent", std::to_wstring(clientId), L"--api", api,
            L"--interface", interfaceName, L"--state", state, L"--stop", stop, L"--done", done,
            L"--created",   std::to_wstring(clientCreated)};
}

std::string HostConnection::Line(const std::string& directive, const std::wstring& path) {
    return directive + " " + ToUtf8(path) + "\n";
}

std::vector<std::pair<std::string, std::string>> HostConnection::CoreRecord() const {
    std::vector<std::pair<std::string, std::string>> entries;
    const std::string text = ReadFileBytes(coreRecord);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        const size_t separator = line.find(": ");
        if (separator != std::string::npos) entries.emplace_back(line.substr(0, separator), line.substr(separator + 2));
        start = end + 1;
    }
    return entries;
}

DWORD HostConnection::CoreProcessId() const {
    for (const auto& [key, value] : CoreRecord()) {
        if (key == "process-id") return ProcessIdIn(value);
    }
    return 0;
}

DWORD HostConnection::CoreChildProcessId() const { return ProcessIdIn(ReadFileBytes(coreChildId)); }

bool WaitForReadyRecord(const HostConnection& connection, uint32_t timeoutMilliseconds) {
    return WaitUntil([&] { return FileSizeWithoutOpening(connection.state) == kReadyRecord.size(); },
                     timeoutMilliseconds);
}

bool EndsSoon(DWORD processId) {
    return WaitUntil([&] { return ProcessHasEnded(processId); }, 5000);
}

ConnectionWithWrongCreationTime::ConnectionWithWrongCreationTime() {
    clientCreated += 1;
    WriteCoreScript("exit 0\n");
}

bool IsParentGoneRecord(const std::string& record) {
    return record.rfind(R"({"stage":"parent-check",)", 0) == 0 &&
           record.find(R"("code":"PARENT_GONE")") != std::string::npos;
}

BusyReaders::BusyReaders(int count, const std::vector<std::wstring>& paths) {
    for (int i = 0; i < count; ++i) {
        threads_.emplace_back([this, paths] {
            while (!stop_) {
                for (const std::wstring& path : paths) ReadFileBytes(path, FILE_SHARE_READ);
            }
        });
    }
}

BusyReaders::~BusyReaders() {
    stop_ = true;
    for (std::thread& thread : threads_) thread.join();
}

HeldFile::HeldFile(const std::wstring& path) {
    if (!path.empty()) {
        handle_.Reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    }
}

HeldFilesRun RunHostWithFilesHeld(bool holdStateFile, bool holdDoneMarker, DWORD holdMilliseconds) {
    const ConnectionWithWrongCreationTime connection;
    WriteFileBytes(connection.state, "the record before");
    WriteFileBytes(connection.done, "not yet");
    HeldFilesRun run;
    std::optional<ChildProcess> host;
    {
        const HeldFile state(holdStateFile ? connection.state : L"");
        const HeldFile done(holdDoneMarker ? connection.done : L"");
        host.emplace(HelperPath(), connection.HostArguments());
        Sleep(holdMilliseconds);
        run.runningWhenLetGo = host->IsRunning();
        run.doneBeforeRecord = holdStateFile && ReadFileBytes(connection.done) == "done";
    }
    const ULONGLONG letGo = GetTickCount64();
    run.exitCode = host->Wait(kHostEndMilliseconds);
    run.letGoToEndMilliseconds = GetTickCount64() - letGo;
    run.recordArrived = IsParentGoneRecord(ReadFileBytes(connection.state));
    run.doneArrived = ReadFileBytes(connection.done) == "done";
    return run;
}

LostWrites RunHostsBesideBusyReaders(int readerCount, size_t runs) {
    const ConnectionWithWrongCreationTime connection;
    const BusyReaders readers(readerCount, {connection.state, connection.done});
    LostWrites lost;
    for (size_t run = 0; run < runs; ++run) {
        if (!OverwriteWhileRead(connection.state, "the record before") ||
            !OverwriteWhileRead(connection.done, "not yet")) {
            ++lost.records;
            ++lost.doneMarkers;
            continue;
        }
        RunHelper(connection.HostArguments(), kHostEndMilliseconds);
        lost.records += IsParentGoneRecord(ReadFileBytes(connection.state)) ? 0 : 1;
        lost.doneMarkers += ReadFileBytes(connection.done) == "done" ? 0 : 1;
    }
    return lost;
}

}  // namespace host_testing
