#include "support/host_connection.h"

#include <cctype>

#include "base/process.h"
#include "base/system_info.h"
#include "base/text.h"
#include "support/file_watch.h"
#include "support/loopback_port.h"

namespace host_testing {

using namespace testing_support;

namespace {

DWORD ProcessIdIn(const std::string& text) { return text.empty() ? 0 : std::stoul(text); }

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

}  // namespace host_testing
