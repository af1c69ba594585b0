// The helper runs elevated from its own folder, so a DLL planted there must never load.
// Under Wine a DLL beside the program is preferred when a native override names it, which
// lets this test plant one and see whether it was loaded.
#include <gtest/gtest.h>

#include "base/process.h"
#include "base/win32.h"
#include "support/file_watch.h"
#include "support/helper_process.h"
#include "support/loopback_port.h"
#include "support/proxy/stand_in_wininet_control.h"
#include "support/temp_directory.h"

namespace {

using namespace testing_support;

constexpr wchar_t kOverridesKey[] = L"Software\\Wine\\DllOverrides";
const std::vector<std::wstring> kPlanted = {L"wininet", L"iphlpapi"};

class DllOverridePlanting : public ::testing::Test {
protected:
    void SetUp() override {
        // The proxy verbs load system32's WinINet, which the override selects. Wine's own one
        // loads IP Helper by a search that ignores the helper's restriction to System32, and
        // would find the planted one; the stand-in loads nothing. Without this, which of the two
        // is there depends on whether a proxy test has run in the prefix before.
        ASSERT_TRUE(proxy_testing::InstallStandInWinInet());
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kOverridesKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
        for (const std::wstring& name : kPlanted) {
            const std::wstring value = L"native,builtin";
            RegSetValueExW(key_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
            ASSERT_TRUE(CopyFileW((TestProgramDirectory() + L"\\planted\\" + name + L".dll").c_str(),
                                  Beside(name + L".dll").c_str(), FALSE));
        }
        ASSERT_TRUE(CopyFileW((TestProgramDirectory() + L"\\dll-search-probe.exe").c_str(),
                              Beside(L"dll-search-probe.exe").c_str(), FALSE));
    }
    void TearDown() override {
        for (const std::wstring& name : kPlanted) {
            RegDeleteValueW(key_, name.c_str());
            DeleteFileW(Beside(name + L".dll").c_str());
        }
        DeleteFileW(Beside(L"dll-search-probe.exe").c_str());
        RegCloseKey(key_);
    }

    // A file in the helper's own folder: an installation, with router\sing-box.exe, laid out for
    // this test alone.
    static std::wstring Beside(const std::wstring& name) { return InstallationPath(L"planted-dlls") + L"\\" + name; }

    std::vector<std::wstring> LoadedPlantedDlls() {
        std::vector<std::wstring> loaded;
        for (const std::wstring& name : kPlanted) {
            const std::wstring marker = Beside(name + L".dll.loaded");
            if (PathExists(marker)) loaded.push_back(name);
            DeleteFileW(marker.c_str());
        }
        return loaded;
    }

    HKEY key_ = nullptr;
};

TEST_F(DllOverridePlanting, OrdinarySearchWouldLoadThePlantedDlls) {
    const ProcessResult probe = RunProgram(Beside(L"dll-search-probe.exe"), {L"wininet.dll", L"iphlpapi.dll"});
    EXPECT_EQ(probe.exitCode, 0u);
    EXPECT_EQ(LoadedPlantedDlls(), kPlanted);
}

TEST_F(DllOverridePlanting, HelperNeverLoadsThem) {
    const std::wstring helper = Beside(L"KELDRIX-Network.exe");
    EXPECT_EQ(RunProgram(helper, {L"--network-capabilities"}).exitCode, 0u);
    EXPECT_EQ(RunProgram(helper, {L"--bogus"}).exitCode, 2u);
    // The proxy verbs use WinINet.
    TemporaryDirectory proxy;
    const std::string status = RunProgram(helper, {L"--proxy-status", L"--state", proxy / L"state", L"--port", L"1"}).output;
    EXPECT_EQ(status.rfind("{\"component\":\"proxy\",\"stage\":\"proxy-status\"", 0), 0u) << status;
    EXPECT_TRUE(LoadedPlantedDlls().empty());
}

TEST_F(DllOverridePlanting, HostNeverLoadsThemWhileWaitingForTheAdapter) {
    // A host beside its core, run until "ready": it has asked IP Helper for the adapters.
    TemporaryDirectory run;
    const std::wstring port = std::to_wstring(FreeLoopbackPort());
    WriteFileBytes(run / L"config", "listen " + std::string(port.begin(), port.end()) + "\n");
    ChildProcess host(Beside(L"KELDRIX-Network.exe"),
                      {L"--host", L"--config", run / L"config", L"--parent", std::to_wstring(GetCurrentProcessId()),
                       L"--created", std::to_wstring(ProcessCreationTime(GetCurrentProcess())), L"--api", port,
                       L"--interface", L"lo", L"--state", run / L"state", L"--stop", run / L"stop", L"--done",
                       run / L"done"});
    EXPECT_TRUE(WaitUntil([&] { return ReadFileBytes(run / L"state").find("\"ready\"") != std::string::npos; }, 15000));
    WriteFileBytes(run / L"stop", "");
    EXPECT_EQ(host.Wait(15000), 0u);
    EXPECT_TRUE(LoadedPlantedDlls().empty());
}

}  // namespace
