// The executable's resources, read back through the Win32 resource and version APIs.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "base/win32.h"
#include "support/helper_process.h"

namespace {

using testing_support::HelperPath;

std::wstring VersionString(const std::vector<BYTE>& block, const std::wstring& name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring query = L"\\StringFileInfo\\040904b0\\" + name;
    if (!VerQueryValueW(block.data(), query.c_str(), &value, &length) || length == 0) return L"<missing>";
    return std::wstring(static_cast<const wchar_t*>(value));
}

TEST(Resources, VersionRecordNamesTheProduct) {
    const std::wstring path = HelperPath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
    EXPECT_EQ(VersionString(block, L"CompanyName"), L"KELDRIX");
    EXPECT_EQ(VersionString(block, L"ProductName"), L"KELDRIX");
    EXPECT_EQ(VersionString(block, L"FileDescription"), L"KELDRIX Network Helper");
    EXPECT_EQ(VersionString(block, L"OriginalFilename"), L"KELDRIX-Network.exe");
    EXPECT_NE(VersionString(block, L"FileVersion"), L"<missing>");
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_NE(fixed->dwFileVersionMS | fixed->dwFileVersionLS, 0u);
}

class LoadedAsData : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryExW(HelperPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module_, nullptr);
    }
    void TearDown() override { FreeLibrary(module_); }

    std::string Resource(LPCWSTR type, LPCWSTR name) {
        HRSRC found = FindResourceW(module_, name, type);
        if (found == nullptr) return {};
        HGLOBAL loaded = LoadResource(module_, found);
        const char* data = static_cast<const char*>(LockResource(loaded));
        return std::string(data, SizeofResource(module_, found));
    }

    HMODULE module_ = nullptr;
};

TEST_F(LoadedAsData, ManifestAsksForNoElevationAndNamesWindows10) {
    const std::string manifest = Resource(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(manifest.find("name=\"KELDRIX.Network\""), std::string::npos);
    EXPECT_NE(manifest.find("requestedExecutionLevel level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\""), std::string::npos);
}

#pragma pack(push, 2)
struct IconGroupHeader {
    WORD reserved;
    WORD type;
    WORD count;
};
struct IconGroupEntry {
    BYTE width;
    BYTE height;
    BYTE colorCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytesInResource;
    WORD id;
};
#pragma pack(pop)

TEST_F(LoadedAsData, OneIconGroupOfSixPngImages) {
    int groups = 0;
    EnumResourceNamesW(
        module_, MAKEINTRESOURCEW(14),
        [](HMODULE, LPCWSTR, LPWSTR, LONG_PTR count) -> BOOL {
            ++*reinterpret_cast<int*>(count);
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&groups));
    EXPECT_EQ(groups, 1);

    const std::string group = Resource(MAKEINTRESOURCEW(14), MAKEINTRESOURCEW(1));
    ASSERT_GE(group.size(), sizeof(IconGroupHeader));
    const auto* header = reinterpret_cast<const IconGroupHeader*>(group.data());
    EXPECT_EQ(header->type, 1);
    ASSERT_EQ(header->count, 6);
    ASSERT_EQ(group.size(), sizeof(IconGroupHeader) + 6 * sizeof(IconGroupEntry));
    const auto* entries = reinterpret_cast<const IconGroupEntry*>(group.data() + sizeof(IconGroupHeader));
    std::set<int> sizes;
    for (int i = 0; i < header->count; ++i) {
        const std::string image = Resource(MAKEINTRESOURCEW(3), MAKEINTRESOURCEW(entries[i].id));
        ASSERT_EQ(image.size(), entries[i].bytesInResource);
        EXPECT_EQ(image.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << "image " << i;
        sizes.insert(entries[i].width == 0 ? 256 : entries[i].width);
    }
    EXPECT_EQ(sizes.size(), 6u);
}

}  // namespace
