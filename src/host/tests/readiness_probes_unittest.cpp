// The API-port probe and the adapter probe, against real loopback sockets and the adapters Wine
// reports.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "base/process.h"
#include "base/text.h"
#include "host/readiness_probes.h"
#include "support/loopback_port.h"

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

}  // namespace
