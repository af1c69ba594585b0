// What the host's black-box tests share: one connection's files and options, the
// stand-in core's script, and the records the host writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/helper_process.h"
#include "support/temp_directory.h"

namespace host_testing {

inline const std::string kStartCoreRecord = R"({"stage":"start-core"})";
inline const std::string kWaitInterfaceRecord = R"({"stage":"wait-interface"})";
inline const std::string kReadyRecord = R"({"stage":"ready","started":true,"interfaceReady":true})";

// A failure record as the host writes it, with the IPv6 answer of this moment.
std::string FailureRecord(const std::string& stage, const std::string& code, uint32_t win32, uint32_t exitCode);

// Every letter in alternating case: "Access" becomes "AcCeSs".
std::string AlternateCase(std::string text);

struct HostConnection {
    HostConnection();

    testing_support::TemporaryDirectory directory;
    std::wstring config = directory / L"core config.txt";
    std::wstring state = directory / L"state";
    std::wstring stop = directory / L"stop";
    std::wstring done = directory / L"done";
    std::wstring coreRecord = directory / L"core record.txt";
    std::wstring coreChildId = directory / L"core child id.txt";
    uint16_t apiPort;
    std::wstring api;
    std::wstring interfaceName = L"lo";
    DWORD clientId;
    uint64_t clientCreated;

    // Writes the stand-in core's script to the configuration file.
    void WriteCoreScript(const std::string& script) const;
    // "--host" and every option, "--created" included.
    std::vector<std::wstring> HostArguments() const;
    // A script line naming a path of this connection.
    static std::string Line(const std::string& directive, const std::wstring& path);

    // What the stand-in core recorded ("command-line", "argument", "working-directory",
    // "process-id"), in order; empty when it recorded nothing.
    std::vector<std::pair<std::string, std::string>> CoreRecord() const;
    DWORD CoreProcessId() const;
    DWORD CoreChildProcessId() const;
};

// Polls the state file's size until it shows the ready record; false after the time-out.
bool WaitForReadyRecord(const HostConnection& connection, uint32_t timeoutMilliseconds = 30000);

// True when, within a few seconds, the process has ended (or never existed).
bool EndsSoon(DWORD processId);

}  // namespace host_testing
