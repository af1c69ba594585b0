// "--network-capabilities" against the test prefix's real registry.
#include <gtest/gtest.h>

#include "base/win32.h"
#include "support/helper_process.h"
#include "support/temp_directory.h"

namespace {

using namespace testing_support;

constexpr wchar_t kTcpip6Parameters[] = L"SYSTEM\\CurrentControlSet\\Services\\Tcpip6\\Parameters";
constexpr wchar_t kValueName[] = L"DisabledComponents";

// Saves the machine's DisabledComponents and puts it back, whatever the test set.
class RegistryDisabledComponents : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTcpip6Parameters, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                                  nullptr),
                  ERROR_SUCCESS);
        savedSize_ = sizeof(saved_);
        hadValue_ = RegQueryValueExW(key_, kValueName, nullptr, &savedType_, saved_, &savedSize_) == ERROR_SUCCESS;
    }
    void TearDown() override {
        if (hadValue_) RegSetValueExW(key_, kValueName, 0, savedType_, saved_, savedSize_);
        else RegDeleteValueW(key_, kValueName);
        RegCloseKey(key_);
    }

    void SetDword(DWORD value) {
        ASSERT_EQ(RegSetValueExW(key_, kValueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)),
                  ERROR_SUCCESS);
    }
    void SetQword(ULONGLONG value) {
        ASSERT_EQ(RegSetValueExW(key_, kValueName, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)),
                  ERROR_SUCCESS);
    }
    void SetString(const std::wstring& value) {
        ASSERT_EQ(RegSetValueExW(key_, kValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    void Delete() { RegDeleteValueW(key_, kValueName); }

    static std::string Capabilities() {
        const ProcessResult result = RunHelper({L"--network-capabilities"});
        EXPECT_EQ(result.exitCode, 0u);
        return result.output;
    }

    HKEY key_ = nullptr;
    bool hadValue_ = false;
    DWORD savedType_ = 0;
    BYTE saved_[512] = {};
    DWORD savedSize_ = 0;
};

constexpr char kDisabled[] = "{\"ipv6Disabled\":true}";
constexpr char kEnabled[] = "{\"ipv6Disabled\":false}";

TEST_F(RegistryDisabledComponents, AbsentValueMeansEnabled) {
    Delete();
    EXPECT_EQ(Capabilities(), kEnabled);
}

TEST_F(RegistryDisabledComponents, Bit4DecidesWhateverTheOtherBits) {
    for (DWORD value : {0x10u, 0x11u, 0xFFu}) {
        SetDword(value);
        EXPECT_EQ(Capabilities(), kDisabled) << value;
    }
    for (DWORD value : {0x00u, 0x20u, 0x01u, 0x0Fu}) {
        SetDword(value);
        EXPECT_EQ(Capabilities(), kEnabled) << value;
    }
}

TEST_F(RegistryDisabledComponents, OtherValueTypesAreIgnored) {
    SetString(L"255");
    EXPECT_EQ(Capabilities(), kEnabled);
    SetQword(0xFF);
    EXPECT_EQ(Capabilities(), kEnabled);
}

TEST_F(RegistryDisabledComponents, ReadAnewOnEveryRun) {
    SetDword(0x10);
    EXPECT_EQ(Capabilities(), kDisabled);
    SetDword(0x00);
    EXPECT_EQ(Capabilities(), kEnabled);
}

}  // namespace
