// The helper runs elevated from its own folder, so a DLL planted there must never load.
// Under Wine a DLL beside the program is preferred when a native override names it, which
// lets this test plant one and see whether it was loaded.
#include <gtest/gtest.h>

#include "app/win32.h"
#include "support/helper_process.h"
#include "support/temp_directory.h"

namespace {

using namespace testing_support;

constexpr wchar_t kOverridesKey[] = L"Software\\Wine\\DllOverrides";
const std::vector<std::wstring> kPlanted = {L"wininet", L"iphlpapi"};

class DllOverridePlanting : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kOverridesKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
        for (const std::wstring& name : kPlanted) {
            const std::wstring value = L"native,builtin";
            RegSetValueExW(key_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
            ASSERT_TRUE(CopyFileW((TestProgramDirectory() + L"\\planted\\" + name + L".dll").c_str(),
                                  (folder_ / (name + L".dll")).c_str(), FALSE));
        }
        ASSERT_TRUE(CopyFileW(HelperPath().c_str(), (folder_ / L"KELDRIX-Network.exe").c_str(), FALSE));
        ASSERT_TRUE(CopyFileW((TestProgramDirectory() + L"\\dll-search-probe.exe").c_str(),
                              (folder_ / L"dll-search-probe.exe").c_str(), FALSE));
    }
    void TearDown() override {
        for (const std::wstring& name : kPlanted) RegDeleteValueW(key_, name.c_str());
        RegCloseKey(key_);
    }

    std::vector<std::wstring> LoadedPlantedDlls() {
        std::vector<std::wstring> loaded;
        for (const std::wstring& name : kPlanted) {
            const std::wstring marker = folder_ / (name + L".dll.loaded");
            if (PathExists(marker)) loaded.push_back(name);
            DeleteFileW(marker.c_str());
        }
        return loaded;
    }

    HKEY key_ = nullptr;
    TemporaryDirectory folder_;
};

TEST_F(DllOverridePlanting, OrdinarySearchWouldLoadThePlantedDlls) {
    const ProcessResult probe = RunProgram(folder_ / L"dll-search-probe.exe", {L"wininet.dll", L"iphlpapi.dll"});
    EXPECT_EQ(probe.exitCode, 0u);
    EXPECT_EQ(LoadedPlantedDlls(), kPlanted);
}

TEST_F(DllOverridePlanting, HelperNeverLoadsThem) {
    const std::wstring helper = folder_ / L"KELDRIX-Network.exe";
    EXPECT_EQ(RunProgram(helper, {L"--network-capabilities"}).exitCode, 0u);
    EXPECT_EQ(RunProgram(helper, {L"--bogus"}).exitCode, 2u);
    EXPECT_TRUE(LoadedPlantedDlls().empty());
}

}  // namespace
