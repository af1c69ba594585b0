// What the host's black-box tests and the reliability campaign share: one connection's files and
// options, the stand-in core's script, the records the host writes, and readers beside it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_resource.h"
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

// The cheapest host run that writes one record and the done marker: its client's creation time
// is one tick off, so the host writes "parent-check" / "PARENT_GONE" and ends.
struct ConnectionWithWrongCreationTime : HostConnection {
    ConnectionWithWrongCreationTime();
};

bool IsParentGoneRecord(const std::string& record);

// Client threads that read files whole over and over without pause, opening them the way most
// runtimes' whole-file reads do (.NET File.ReadAllText, Python open().read(), Go os.ReadFile):
// read access, read sharing only. They stop when the object goes away.
class BusyReaders {
public:
    BusyReaders(int count, const std::vector<std::wstring>& paths);
    BusyReaders(const BusyReaders&) = delete;
    BusyReaders& operator=(const BusyReaders&) = delete;
    ~BusyReaders();

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

// A client's reader that holds a file open, reading and sharing reading only, until it goes;
// nothing for an empty path.
class HeldFile {
public:
    explicit HeldFile(const std::wstring& path);
    bool IsHeld() const { return handle_.IsValid(); }

private:
    UniqueHandleFile handle_;
};

// A cheap host run (ConnectionWithWrongCreationTime) while a reader holds its state file, its done
// marker or both from before it starts until `holdMilliseconds` later: what the host had done
// when the reader let go, and what arrived after.
struct HeldFilesRun {
    bool runningWhenLetGo = false;
    // The done marker was written while the state file still held the record before.
    bool doneBeforeRecord = false;
    DWORD exitCode = 0;
    bool recordArrived = false;
    bool doneArrived = false;
    ULONGLONG letGoToEndMilliseconds = 0;
};
HeldFilesRun RunHostWithFilesHeld(bool holdStateFile, bool holdDoneMarker, DWORD holdMilliseconds);

// How many host runs lost their final record, and how many their done marker.
struct LostWrites {
    uint64_t records = 0;
    uint64_t doneMarkers = 0;
};

// `runs` host runs of a ConnectionWithWrongCreationTime beside `readerCount` busy readers of its
// state file and done marker. Before each run both hold an earlier connection's bytes, so that
// every write replaces a file the readers hold.
LostWrites RunHostsBesideBusyReaders(int readerCount, size_t runs);

}  // namespace host_testing
