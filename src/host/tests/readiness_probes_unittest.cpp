// The API-port probe, the port's owner and the adapter probe, against real loopback sockets, jobs
// and the adapters Wine reports, and the decisions behind them on hand-made inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/process.h"
#include "base/text.h"
#include "base/unique_resource.h"
#include "host/port_owner.h"
#include "host/readiness_probes.h"
#include "host/readiness_watch.h"
#include "support/file_watch.h"
#include "support/helper_process.h"
#include "support/loopback_port.h"
#include "support/temp_directory.h"

// clang-format off
#include "base/win32.h"
#include <iphlpapi.h>
// clang-format on

namespace {

using namespace testing_support;

// Listens on a free loopback port until destroyed, without ever accepting.
struct Listener {
    SOCKET socket_ = INVALID_SOCKET;
    uint16_t port = FreeLoopbackPort();
    Listener() {
        socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
            listen(socket_, SOMAXCONN) != 0) {
            throw std::runtime_error("cannot listen");
        }
    }
    ~Listener() { closesocket(socket_); }
};

TEST(IsApiPortOpen, AnswersYesForAListenerAndNoForAClosedPort) {
    const uint16_t closedPort = FreeLoopbackPort();
    EXPECT_FALSE(IsApiPortOpen(std::to_wstring(closedPort)));
    Listener listener;
    EXPECT_TRUE(IsApiPortOpen(std::to_wstring(listener.port)));
    EXPECT_TRUE(IsApiPortOpen(L" +" + std::to_wstring(listener.port) + L"abc")) << "stoul rules";
}

TEST(IsApiPortOpen, UsesTheLow16BitsOfTheNumber) {
    Listener listener;
    EXPECT_TRUE(IsApiPortOpen(std::to_wstring(listener.port + 65536u)));
    EXPECT_TRUE(IsApiPortOpen(std::to_wstring(listener.port + 3u * 65536u)));
}

TEST(IsApiPortOpen, ValueWithoutANumberThrowsInsteadOfAnswering) {
    EXPECT_THROW(IsApiPortOpen(L"http"), std::invalid_argument);
    EXPECT_THROW(IsApiPortOpen(L""), std::invalid_argument);
    EXPECT_THROW(IsApiPortOpen(L"4294967296"), std::out_of_range);
}

TEST(OwnerOfPort, ListenersThatALoopbackConnectionReachesDecide) {
    constexpr uint32_t kLoopback = INADDR_LOOPBACK;
    constexpr uint32_t kEvery = INADDR_ANY;
    constexpr uint32_t kOtherLoopback = 0x7F000002;
    constexpr uint32_t kLan = 0xC0A80002;
    constexpr uint16_t kPort = 9090;
    const std::vector<uint32_t> job = {400, 404};
    struct Case {
        std::vector<TcpListener> listeners;
        PortOwner owner;
        const char* what;
    };
    const Case cases[] = {
        {{}, PortOwner::kUnknown, "nothing listed"},
        {{{kLoopback, kPort, 404}}, PortOwner::kCore, "a process the core started"},
        {{{kEvery, kPort, 400}}, PortOwner::kCore, "the core, on every address"},
        {{{kLoopback, kPort, 77}}, PortOwner::kAnotherProgram, "another program"},
        {{{kEvery, kPort, 77}, {kLoopback, kPort, 400}}, PortOwner::kCore, "the core beside another program"},
        {{{kLoopback, kPort, 0}}, PortOwner::kUnknown, "a listener whose process is not named"},
        {{{kLoopback, kPort, 77}, {kEvery, kPort, 0}}, PortOwner::kUnknown, "an unnamed listener may be the core"},
        {{{kLoopback, 9091, 400}, {kLan, kPort, 400}, {kOtherLoopback, kPort, 400}}, PortOwner::kUnknown,
         "the core elsewhere: another port, another address"},
        {{{kLan, kPort, 77}, {kOtherLoopback, kPort, 77}}, PortOwner::kUnknown,
         "another program where 127.0.0.1 does not reach"},
    };
    for (const Case& each : cases) {
        EXPECT_EQ(OwnerOfPort(each.listeners, kPort, job), each.owner) << each.what;
    }
    EXPECT_EQ(OwnerOfPort({{kLoopback, kPort, 400}}, kPort, {}), PortOwner::kAnotherProgram) << "an empty job";

    EXPECT_TRUE(MayNameOwners({})) << "no listener yet: the port's own may be named";
    EXPECT_FALSE(MayNameOwners({{kEvery, 8228, 0}, {kLoopback, 135, 0}})) << "a table that names no one";
    EXPECT_TRUE(MayNameOwners({{kEvery, 8228, 0}, {kLoopback, 135, 900}}));
}

// The table read from the system lists this test's listener at its address and port, with this
// process or no process (Wine names none); the job lists exactly the process put in it; and the
// owner found from both never takes one for the other.
TEST(FindPortOwner, TheTableAndTheJobAsTheSystemGivesThem) {
    const Listener ours;
    const std::optional<std::vector<TcpListener>> listeners = ReadTcpListeners();
    ASSERT_TRUE(listeners);
    const auto listed = std::find_if(listeners->begin(), listeners->end(),
                                     [&](const TcpListener& listener) { return listener.port == ours.port; });
    ASSERT_NE(listed, listeners->end()) << "port " << ours.port << " not in a table of " << listeners->size();
    EXPECT_EQ(listed->address, static_cast<uint32_t>(INADDR_LOOPBACK));
    EXPECT_TRUE(listed->processId == 0 || listed->processId == GetCurrentProcessId()) << listed->processId;

    TemporaryDirectory directory;
    const uint16_t corePort = FreeLoopbackPort();
    WriteFileBytes(directory / L"core.txt", "listen " + std::to_string(corePort) + "\n");
    ChildProcess core(StandInCorePath(), {L"run", L"-c", directory / L"core.txt"});
    const UniqueHandleNull job(CreateJobObjectW(nullptr, nullptr));
    ASSERT_TRUE(job);
    ASSERT_TRUE(AssignProcessToJobObject(job.Get(), core.Handle()));
    EXPECT_EQ(ProcessIdsInJob(job.Get()), std::vector<uint32_t>{core.Id()});
    ASSERT_TRUE(WaitUntil([&] { return IsApiPortOpen(std::to_wstring(corePort)); }, 10000));
    EXPECT_NE(FindPortOwner(corePort, job.Get()), PortOwner::kAnotherProgram);
    EXPECT_NE(FindPortOwner(ours.port, job.Get()), PortOwner::kCore);
}

// What IP Helper answers, for a failure message: its result and each adapter's name and state.
std::string AdaptersAsReported() {
    ULONG size = 0;
    ULONG result = GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_INCLUDE_ALL_INTERFACES, nullptr, nullptr, &size);
    std::vector<ULONGLONG> buffer(size / sizeof(ULONGLONG) + 1);
    auto* adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    if (result == ERROR_BUFFER_OVERFLOW)
        result = GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_INCLUDE_ALL_INTERFACES, nullptr, adapters, &size);
    std::string report = "GetAdaptersAddresses: " + std::to_string(result);
    if (result != ERROR_SUCCESS) return report;
    for (const IP_ADAPTER_ADDRESSES* adapter = adapters; adapter != nullptr; adapter = adapter->Next)
        report += "; " + ToUtf8(adapter->FriendlyName == nullptr ? L"(no name)" : adapter->FriendlyName) +
                  " status " + std::to_string(adapter->OperStatus);
    return report;
}

TEST(IsInterfaceUp, LoopbackIsUpAndNamesMustMatchExactly) {
    EXPECT_TRUE(IsInterfaceUp(L"lo")) << AdaptersAsReported();
    EXPECT_FALSE(IsInterfaceUp(L"LO"));
    EXPECT_FALSE(IsInterfaceUp(L"lo "));
    EXPECT_FALSE(IsInterfaceUp(L"l"));
    EXPECT_FALSE(IsInterfaceUp(L""));
    EXPECT_FALSE(IsInterfaceUp(L"keldrix-absent-adapter"));
}

// A hand-made adapter list, linked in the order given.
struct AdapterList {
    std::vector<IP_ADAPTER_ADDRESSES> adapters;
    std::vector<std::wstring> names;

    AdapterList(std::initializer_list<std::pair<const wchar_t*, IF_OPER_STATUS>> entries) {
        adapters.resize(entries.size());
        names.reserve(entries.size());
        size_t i = 0;
        for (const auto& [name, status] : entries) {
            adapters[i] = IP_ADAPTER_ADDRESSES{};
            if (name != nullptr) {
                names.emplace_back(name);
                adapters[i].FriendlyName = names.back().data();
            }
            adapters[i].OperStatus = status;
            if (i > 0) adapters[i - 1].Next = &adapters[i];
            ++i;
        }
    }
    const IP_ADAPTER_ADDRESSES* First() const { return adapters.empty() ? nullptr : &adapters[0]; }
};

TEST(HasAdapterUp, NeedsAnExactNameAndTheUpState) {
    const AdapterList list{{L"Ethernet", IfOperStatusUp}, {L"keldrix-tun", IfOperStatusDown},
                           {L"KELDRIX-TUN2", IfOperStatusUp}, {L"dormant", IfOperStatusDormant}};
    EXPECT_TRUE(HasAdapterUp(list.First(), L"Ethernet"));
    EXPECT_FALSE(HasAdapterUp(list.First(), L"keldrix-tun"));
    EXPECT_FALSE(HasAdapterUp(list.First(), L"keldrix-tun2"));
    EXPECT_TRUE(HasAdapterUp(list.First(), L"KELDRIX-TUN2"));
    EXPECT_FALSE(HasAdapterUp(list.First(), L"dormant"));
    EXPECT_FALSE(HasAdapterUp(list.First(), L"Ethernet 2"));
    EXPECT_FALSE(HasAdapterUp(list.First(), L"Ether"));
    EXPECT_FALSE(HasAdapterUp(nullptr, L"Ethernet"));
}

TEST(HasAdapterUp, AMatchThatIsDownDoesNotEndTheWalk) {
    const AdapterList list{{nullptr, IfOperStatusUp}, {L"tun", IfOperStatusDown}, {L"tun", IfOperStatusUp}};
    EXPECT_TRUE(HasAdapterUp(list.First(), L"tun"));
    EXPECT_FALSE(HasAdapterUp(list.First(), L""));
}

// Where the system tells of changes, the adapter waits for one, or for a cycle to pass; where it
// tells none (Wine), it is polled at a pace of its own.
TEST(IsAdapterQueryDue, AToldChangeTheCyclesPaceOrWhereNothingIsToldThePoll) {
    EXPECT_TRUE(IsAdapterQueryDue(true, true, 0));
    EXPECT_FALSE(IsAdapterQueryDue(true, false, 0));
    EXPECT_FALSE(IsAdapterQueryDue(true, false, kAdapterPollMilliseconds));
    EXPECT_FALSE(IsAdapterQueryDue(true, false, 99));
    EXPECT_TRUE(IsAdapterQueryDue(true, false, 100));
    EXPECT_FALSE(IsAdapterQueryDue(false, false, kAdapterPollMilliseconds - 1));
    EXPECT_TRUE(IsAdapterQueryDue(false, false, kAdapterPollMilliseconds));
    EXPECT_TRUE(IsAdapterQueryDue(false, true, 0));
}

}  // namespace
