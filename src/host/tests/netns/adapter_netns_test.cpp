// The adapter probe and the host's readiness wait against interfaces created for these
// tests in a network namespace of their own (run-in-namespace.sh): "kx-up" (up),
// "kx-down" (down), "KxCase" (up), "kx-late" (brought up on request), and sixty more.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "host/readiness_probes.h"
#include "support/file_watch.h"
#include "support/host_connection.h"

// clang-format off
#include "base/win32.h"
#include <iphlpapi.h>
// clang-format on

namespace {

using namespace testing_support;
using namespace host_testing;

// The folder through which the namespace script and the tests signal each other.
std::wstring SignalFolder() {
    const wchar_t* folder = _wgetenv(L"KELDRIX_NETNS_SIGNALS");
    return folder == nullptr ? std::wstring() : std::wstring(folder);
}

TEST(AdapterNamespace, RunsInsideTheNamespaceScript) {
    ASSERT_FALSE(SignalFolder().empty()) << "run through run-in-namespace.sh, not directly";
    ASSERT_TRUE(PathExists(SignalFolder()));
}

TEST(IsInterfaceUpInNamespace, UpAdapterIsUpAndADownOneIsNot) {
    EXPECT_TRUE(IsInterfaceUp(L"kx-up"));
    EXPECT_FALSE(IsInterfaceUp(L"kx-down"));
    EXPECT_FALSE(IsInterfaceUp(L"kx-many-1")) << "present but down";
}

TEST(IsInterfaceUpInNamespace, NameDifferingOnlyInLetterCaseIsNotTheAdapter) {
    EXPECT_TRUE(IsInterfaceUp(L"KxCase"));
    EXPECT_FALSE(IsInterfaceUp(L"kxcase"));
    EXPECT_FALSE(IsInterfaceUp(L"KXCASE"));
}

TEST(IsInterfaceUpInNamespace, ListTooLongForTheFirstQueryIsAskedForAgain) {
    std::vector<ULONGLONG> buffer(16000 / sizeof(ULONGLONG));
    ULONG size = 16000;
    ASSERT_EQ(GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_INCLUDE_ALL_INTERFACES, nullptr,
                                   reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size),
              static_cast<ULONG>(ERROR_BUFFER_OVERFLOW))
        << "the namespace holds too few adapters to need a second query";
    EXPECT_TRUE(IsInterfaceUp(L"kx-many-30"));
    EXPECT_TRUE(IsInterfaceUp(L"kx-up"));
    EXPECT_FALSE(IsInterfaceUp(L"kx-many-29"));
}

TEST(HostInNamespace, ReadyOnlyOnceTheAdapterComesUp) {
    ASSERT_FALSE(SignalFolder().empty());
    ASSERT_FALSE(IsInterfaceUp(L"kx-late"));
    HostConnection connection;
    connection.interfaceName = L"kx-late";
    connection.WriteCoreScript("listen " + std::to_string(connection.apiPort) + "\n");
    ChildProcess host(HelperPath(), connection.HostArguments());

    // The port is open at once; the host keeps waiting for the adapter, cycle after cycle.
    ASSERT_TRUE(WaitUntil([&] { return FileSizeWithoutOpening(connection.state) == kWaitInterfaceRecord.size(); },
                          10000));
    ASSERT_TRUE(WaitUntil([&] { return IsApiPortOpen(connection.api); }, 10000));
    Sleep(1000);
    EXPECT_EQ(FileSizeWithoutOpening(connection.state), kWaitInterfaceRecord.size()) << "ready before the adapter";

    WriteFileBytes(SignalFolder() + L"\\up-kx-late", "");
    ASSERT_TRUE(WaitUntil([] { return PathExists(SignalFolder() + L"\\kx-late-is-up"); }, 10000));
    ASSERT_TRUE(WaitForReadyRecord(connection, 10000));
    EXPECT_EQ(ReadFileBytes(connection.state), kReadyRecord);

    WriteFileBytes(connection.stop, "");
    EXPECT_EQ(host.Wait(15000), 0u);
    EXPECT_EQ(ReadFileBytes(connection.done), "done");
}

}  // namespace
