// The elevated host writes where a client's options say, and any process of the user can plant
// links there first: at the temporary names the host writes through, or at the final names.
// Whatever is planted, no file that a link points to is written, moved or deleted, and where no
// link is in the way the record and the done marker arrive.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "host/tests/host_connection.h"
#include "support/file_watch.h"
#include "support/unix_side.h"

namespace {

using namespace testing_support;
using namespace host_testing;

constexpr DWORD kHostEndMilliseconds = 15000;

// A file of the user's that a link points to, and what it must still hold afterwards.
struct Target {
    std::wstring path;
    std::string content;
};

// Files elsewhere, as an attacker would aim at them.
struct Targets {
    TemporaryDirectory elsewhere;
    Target forState{elsewhere / L"aimed at by the state file", "the user's precious file"};
    Target forDone{elsewhere / L"aimed at by the done marker", "another precious file"};

    Targets() {
        WriteFileBytes(forState.path, forState.content);
        WriteFileBytes(forDone.path, forDone.content);
    }
    void ExpectUntouched() const {
        for (const Target* target : {&forState, &forDone}) {
            EXPECT_EQ(ReadFileBytes(target->path), target->content) << "a link steered the host into this file";
        }
    }
};

// The cheapest host run that writes one record and the done marker: its client does not match.
struct ConnectionWithWrongCreationTime : HostConnection {
    ConnectionWithWrongCreationTime() {
        clientCreated += 1;
        WriteCoreScript("exit 0\n");
    }
};

bool IsParentGoneRecord(const std::string& record) {
    return record.rfind(R"({"stage":"parent-check",)", 0) == 0 &&
           record.find(R"("code":"PARENT_GONE")") != std::string::npos;
}

void ExpectRecordAndDoneMarker(const HostConnection& connection) {
    const std::string record = ReadFileBytes(connection.state);
    EXPECT_TRUE(IsParentGoneRecord(record)) << record;
    EXPECT_EQ(ReadFileBytes(connection.done), "done");
}

// A client thread that reads the state file and the done marker over and over, the way most
// runtimes' "read the whole file" calls open a file: read access, read sharing only.
class BusyReader {
public:
    explicit BusyReader(const HostConnection& connection)
        : thread_([this, &connection] {
              while (!stop_) {
                  for (const std::wstring* path : {&connection.state, &connection.done}) {
                      ReadFileBytes(*path, FILE_SHARE_READ);
                  }
              }
          }) {}
    ~BusyReader() {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

enum class Planted { OrdinaryLeftover, SymbolicLink, HardLink };

void Plant(Planted kind, const std::wstring& name, const Target& target) {
    switch (kind) {
        case Planted::OrdinaryLeftover: WriteFileBytes(name, "left over by a crash"); break;
        case Planted::SymbolicLink:
            PlantSymbolicLink(name, target.path);
            ASSERT_EQ(ReadFileBytes(name), target.content) << "no link was planted";
            break;
        case Planted::HardLink: ASSERT_TRUE(CreateHardLinkW(name.c_str(), target.path.c_str(), nullptr)); break;
    }
}

TEST(HostClientFiles, WhatLiesAtTheTemporaryNamesNeverSteersAWrite) {
    for (const Planted kind : {Planted::OrdinaryLeftover, Planted::SymbolicLink, Planted::HardLink}) {
        SCOPED_TRACE(static_cast<int>(kind));
        const Targets targets;
        const ConnectionWithWrongCreationTime connection;
        Plant(kind, connection.state + L".tmp", targets.forState);
        Plant(kind, connection.done + L".tmp", targets.forDone);

        EXPECT_EQ(RunHelper(connection.HostArguments(), kHostEndMilliseconds).exitCode, 1u);
        ExpectRecordAndDoneMarker(connection);
        targets.ExpectUntouched();
        if (kind == Planted::OrdinaryLeftover) {
            EXPECT_FALSE(PathExists(connection.state + L".tmp")) << "a crash's leftover is replaced";
            EXPECT_FALSE(PathExists(connection.done + L".tmp"));
        } else {
            EXPECT_EQ(ReadFileBytes(connection.state + L".tmp"), targets.forState.content) << "the link was removed";
            EXPECT_EQ(ReadFileBytes(connection.done + L".tmp"), targets.forDone.content);
        }
    }
}

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

TEST(HostClientFiles, BusyReadersCostNoRecordAndNoDoneMarker) {
    constexpr int kHostRuns = 200;
    for (const int readers : {1, 2}) {
        const ConnectionWithWrongCreationTime connection;
        int recordsLost = 0;
        int doneMarkersLost = 0;
        {
            std::vector<std::unique_ptr<BusyReader>> reading;
            for (int i = 0; i < readers; ++i) reading.push_back(std::make_unique<BusyReader>(connection));
            for (int run = 0; run < kHostRuns; ++run) {
                // The host replaces files that the readers hold, as it does in every run but the first write.
                ASSERT_TRUE(OverwriteWhileRead(connection.state, "the record before"));
                ASSERT_TRUE(OverwriteWhileRead(connection.done, "not yet"));
                RunHelper(connection.HostArguments(), kHostEndMilliseconds);
                recordsLost += IsParentGoneRecord(ReadFileBytes(connection.state)) ? 0 : 1;
                doneMarkersLost += ReadFileBytes(connection.done) == "done" ? 0 : 1;
            }
        }
        EXPECT_EQ(recordsLost, 0) << "of " << kHostRuns << " host runs, with " << readers << " reader(s)";
        EXPECT_EQ(doneMarkersLost, 0) << "of " << kHostRuns << " host runs, with " << readers << " reader(s)";
    }
}

TEST(HostClientFiles, LinksAtTheFinalNamesAreReplacedNotFollowed) {
    const Targets targets;
    const ConnectionWithWrongCreationTime connection;
    PlantSymbolicLink(connection.state, targets.forState.path);
    PlantSymbolicLink(connection.done, targets.forDone.path);
    ASSERT_EQ(ReadFileBytes(connection.state), targets.forState.content) << "no link was planted";

    EXPECT_EQ(RunHelper(connection.HostArguments(), kHostEndMilliseconds).exitCode, 1u);
    ExpectRecordAndDoneMarker(connection);
    targets.ExpectUntouched();
}

TEST(HostClientFiles, LinksReplantedWhileTheHostRunsNeverReachTheirTargets) {
    const Targets targets;
    const ConnectionWithWrongCreationTime connection;
    {
        const TemporaryDirectory planterFiles;
        const LinkReplanter replanter({{connection.state + L".tmp", targets.forState.path},
                                       {connection.done + L".tmp", targets.forDone.path}},
                                      planterFiles.Path());
        ASSERT_TRUE(replanter.IsPlanting());
        for (int run = 0; run < 25; ++run) RunHelper(connection.HostArguments(), kHostEndMilliseconds);
        EXPECT_TRUE(replanter.IsPlanting()) << "the links were not planted throughout";
    }
    targets.ExpectUntouched();

    // Once nothing is in the way, the records arrive again.
    RunUnixShell("rm -f '" + UnixFileName(connection.state) + ".tmp' '" + UnixFileName(connection.done) + ".tmp'");
    DeleteFileW(connection.done.c_str());
    EXPECT_EQ(RunHelper(connection.HostArguments(), kHostEndMilliseconds).exitCode, 1u);
    ExpectRecordAndDoneMarker(connection);
}

}  // namespace
