// The snapshot file and the proxy mutex against real files and kernel objects under Wine.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <thread>

#include "base/win32.h"
#include "proxy/proxy_mutex.h"
#include "proxy/proxy_snapshot_file.h"
#include "support/temp_directory.h"
#include "support/thrown_error.h"

namespace {

using namespace testing_support;

const ProxySnapshot kSnapshot{0x8000000D, L"127.0.0.1:8080", L"proxy:3128", L"<local>", L"http://pac/\x00E9"};

TEST(ProxySnapshotFile, WritesTheEncodingAndReadsItBack) {
    TemporaryDirectory directory;
    const std::wstring path = directory / L"proxy state";
    WriteProxySnapshot(path, kSnapshot);
    EXPECT_EQ(ReadFileBytes(path), EncodeProxySnapshot(kSnapshot));
    EXPECT_FALSE(PathExists(path + L".tmp"));
    EXPECT_EQ(ReadProxySnapshot(path), kSnapshot);
}

TEST(ProxySnapshotFile, TooLongTextWritesNothing) {
    TemporaryDirectory directory;
    const std::wstring path = directory / L"state";
    ProxySnapshot tooLong = kSnapshot;
    tooLong.bypassList = WideString(8193, L'b');
    EXPECT_EQ(ThrownError([&] { WriteProxySnapshot(path, tooLong); }), Win32Error{ERROR_INVALID_DATA});
    EXPECT_FALSE(PathExists(path));
    EXPECT_FALSE(PathExists(path + L".tmp"));
}

TEST(ProxySnapshotFile, WriteThatNeverReachesTheDiskReportsTheReadError) {
    TemporaryDirectory directory;
    const std::wstring path = directory / L"missing folder\\state";
    EXPECT_EQ(ThrownError([&] { WriteProxySnapshot(path, kSnapshot); }), Win32Error{ERROR_PATH_NOT_FOUND});
}

TEST(ProxySnapshotFile, ReplacementBlockedByAReaderIsAWriteFault) {
    TemporaryDirectory directory;
    const std::wstring path = directory / L"state";
    WriteFileBytes(path, "older content");
    // A reader without delete sharing makes the replacing move fail; the read-back sees the old bytes.
    const HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    const std::optional<Win32Error> error = ThrownError([&] { WriteProxySnapshot(path, kSnapshot); });
    CloseHandle(reader);
    EXPECT_EQ(error, Win32Error{ERROR_WRITE_FAULT});
    EXPECT_EQ(ReadFileBytes(path), "older content");
}

TEST(ProxySnapshotFile, ReadFailuresKeepTheirCodes) {
    TemporaryDirectory directory;
    EXPECT_EQ(ThrownError([&] { ReadProxySnapshot(directory / L"absent"); }), Win32Error{ERROR_FILE_NOT_FOUND});
    const std::wstring oversized = directory / L"oversized";
    ByteString bytes = EncodeProxySnapshot(kSnapshot);
    bytes.resize(65537, '\0');
    WriteFileBytes(oversized, bytes);
    EXPECT_EQ(ThrownError([&] { ReadProxySnapshot(oversized); }), Win32Error{ERROR_INVALID_DATA});
    const std::wstring status = directory / L"status";
    WriteFileBytes(status, "{\"stage\":\"ready\"}");
    EXPECT_EQ(ThrownError([&] { ReadProxySnapshot(status); }), Win32Error{ERROR_INVALID_DATA});
    EXPECT_EQ(ReadFileBytes(status), "{\"stage\":\"ready\"}");
}

// Whether another thread can take the mutex at once, and without finding it abandoned.
DWORD WaitFromAnotherThread(const WideString& name) {
    DWORD result = WAIT_FAILED;
    std::thread other([&] {
        const HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
        if (mutex == nullptr) return;
        result = WaitForSingleObject(mutex, 0);
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ReleaseMutex(mutex);
        CloseHandle(mutex);
    });
    other.join();
    return result;
}

TEST(ProxyMutex, IsReleasedOnEveryWayOut) {
    TemporaryDirectory directory;
    const std::wstring path = directory / L"state";
    const WideString name = ProxyMutexName(path);
    const HANDLE observer = CreateMutexW(nullptr, FALSE, name.c_str());
    ASSERT_NE(observer, nullptr);
    {
        const ProxyMutexLock lock = AcquireProxyMutex(path);
        EXPECT_EQ(WaitFromAnotherThread(name), static_cast<DWORD>(WAIT_TIMEOUT));
    }
    EXPECT_EQ(WaitFromAnotherThread(name), WAIT_OBJECT_0);
    EXPECT_THROW(
        {
            const ProxyMutexLock lock = AcquireProxyMutex(path);
            throw std::runtime_error("failure while holding");
        },
        std::runtime_error);
    EXPECT_EQ(WaitFromAnotherThread(name), WAIT_OBJECT_0);
    CloseHandle(observer);
}

TEST(ProxyMutex, HandleIsClosedAfterUse) {
    TemporaryDirectory directory;
    const std::wstring path = directory / L"closed";
    { const ProxyMutexLock lock = AcquireProxyMutex(path); }
    // No handle is left open, so the named object is gone.
    EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, ProxyMutexName(path).c_str()), nullptr);
}

TEST(ProxyMutex, AbandonedMutexIsTakenOver) {
    TemporaryDirectory directory;
    const std::wstring path = directory / L"abandoned";
    const WideString name = ProxyMutexName(path);
    HANDLE abandoned = nullptr;
    // Owned and never released: ending the thread abandons it.
    std::thread holder([&] { abandoned = CreateMutexW(nullptr, TRUE, name.c_str()); });
    holder.join();
    ASSERT_NE(abandoned, nullptr);
    EXPECT_NO_THROW({ const ProxyMutexLock lock = AcquireProxyMutex(path); });
    CloseHandle(abandoned);
}

}  // namespace
