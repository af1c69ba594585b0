// The snapshot format; the snapshot file and the proxy mutex against real files and kernel
// objects under Wine.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <stdexcept>
#include <thread>

#include "base/win32.h"
#include "proxy/proxy_mutex.h"
#include "proxy/proxy_snapshot.h"
#include "proxy/proxy_snapshot_record.h"
#include "support/temp_directory.h"
#include "support/thrown_error.h"

#include <sddl.h>  // after <windows.h>

namespace {

using namespace testing_support;

const SnapshotId kId{{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
const ProxySnapshot kSnapshot{0x8000000D, L"127.0.0.1:8080", L"proxy:3128", L"<local>", L"http://pac/\x00E9", kId};

TEST(ProxySnapshotFile, WritesTheEncodingAndReadsItBack) {
    TemporaryDirectory directory;
    const std::wstring path = directory / L"proxy state";
    EXPECT_EQ(SnapshotIdAt(path), std::nullopt);
    WriteProxySnapshot(path, kSnapshot);
    EXPECT_EQ(ReadFileBytes(path), EncodeProxySnapshot(kSnapshot));
    EXPECT_FALSE(PathExists(path + L".tmp"));
    EXPECT_EQ(ReadProxySnapshot(path), kSnapshot);
    // The id is read from the head alone, also while a writer holds the file.
    const HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(SnapshotIdAt(path), kId);
    CloseHandle(writer);
    // An earlier version's file, or a file that is no snapshot, has none.
    ProxySnapshot earlier = kSnapshot;
    earlier.id.reset();
    WriteProxySnapshot(path, earlier);
    EXPECT_EQ(ReadProxySnapshot(path), earlier);
    EXPECT_EQ(SnapshotIdAt(path), std::nullopt);
    WriteFileBytes(path, "KELDPXY3 too short");
    EXPECT_EQ(SnapshotIdAt(path), std::nullopt);
}

TEST(ProxySnapshotFile, EveryNewIdIsAnotherFromTheSystemsGenerator) {
    std::vector<SnapshotId> ids;
    for (int i = 0; i < 64; ++i) {
        const SnapshotId id = NewSnapshotId();
        EXPECT_NE(id, SnapshotId{});
        EXPECT_EQ(std::count(ids.begin(), ids.end(), id), 0);
        EXPECT_EQ(ParseSnapshotId(FormatSnapshotId(id)), id);
        ids.push_back(id);
    }
    EXPECT_EQ(FormatSnapshotId(kId), L"0123456789ABCDEFFEDCBA9876543210");
    for (const wchar_t* text : {L"0123456789abcdefFEDCBA9876543210", L"0123456789ABCDEFFEDCBA987654321",
                                L"0123456789ABCDEFFEDCBA98765432100", L"0123456789ABCDEF-EDCBA9876543210"}) {
        EXPECT_EQ(ParseSnapshotId(text), std::nullopt) << text;
    }
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

// A lock that another program created first, with an access list of its own: one that lets the
// user wait for it and release it serves; one that shuts the user out is reported, never taken.
TEST(ProxyMutex, OneCreatedFirstServesIfItsAccessListLetsTheUserWaitAndRelease) {
    TemporaryDirectory directory;
    const std::wstring path = directory / L"created first";
    // Owned by another account (SYSTEM here), so that the user has no owner's rights either.
    for (const auto& [accessList, expected] : {std::pair<const wchar_t*, std::optional<Win32Error>>{
                                                   L"O:SYD:(A;;0x100001;;;WD)", std::nullopt},
                                               {L"O:SYD:(A;;0x100000;;;WD)", Win32Error{ERROR_ACCESS_DENIED}},
                                               {L"O:SYD:", Win32Error{ERROR_ACCESS_DENIED}}}) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(accessList, SDDL_REVISION_1, &descriptor,
                                                                         nullptr));
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
        const HANDLE first = CreateMutexW(&attributes, FALSE, ProxyMutexName(path).c_str());
        LocalFree(descriptor);
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(ThrownError([&] { const ProxyMutexLock lock = AcquireProxyMutex(path); }), expected) << accessList;
        CloseHandle(first);
    }
}

using testing_support::ThrownError;

std::optional<Win32Error> DecodeError(const ByteString& bytes) {
    return ThrownError([&] { DecodeProxySnapshot(bytes); });
}

ByteString Le32(uint32_t value) {
    ByteString bytes;
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>(value >> shift));
    return bytes;
}

const ByteString kMagic = "KELDPXY2";
const ByteString kIdMagic = "KELDPXY3";
const ByteString kIdBytes(reinterpret_cast<const char*>(kId.bytes.data()), kId.bytes.size());
const std::optional<Win32Error> kInvalidData = Win32Error{ERROR_INVALID_DATA};

// An earlier version's file is 56 bytes; the same with an id, 16 more after its own magic.
TEST(ProxySnapshotFormat, WorkedExampleIs56BytesAnd72WithAnId) {
    ProxySnapshot snapshot{1, L"127.0.0.1:8080", L"", L"", L""};
    const ByteString body = Le32(1) + Le32(28) +
                            ByteString("1\0" "2\0" "7\0" ".\0" "0\0" ".\0" "0\0" ".\0" "1\0" ":\0" "8\0" "0\0"
                                       "8\0" "0\0", 28) +
                            ByteString(12, '\0');
    const ByteString earlier = kMagic + body;
    ASSERT_EQ(earlier.size(), 56u);
    EXPECT_EQ(EncodeProxySnapshot(snapshot), earlier);
    EXPECT_EQ(DecodeProxySnapshot(earlier), snapshot);
    snapshot.id = kId;
    const ByteString withId = kIdMagic + kIdBytes + body;
    ASSERT_EQ(withId.size(), 72u);
    EXPECT_EQ(EncodeProxySnapshot(snapshot), withId);
    EXPECT_EQ(DecodeProxySnapshot(withId), snapshot);
}

TEST(ProxySnapshotFormat, RoundTripKeepsEveryFlagBitAndEveryUnit) {
    const WideString awkward{L'\0', L'\xD800', L'\xFFFF', L'\x00E9', L';', L'\xDC00', L'\x0100'};
    std::vector<uint32_t> flagValues = {0u, 0xFFFFFFFFu};
    for (int bit = 0; bit < 32; ++bit) flagValues.push_back(1u << bit);
    for (uint32_t flags : flagValues) {
        const ProxySnapshot snapshot{flags, L"127.0.0.1:65535", L"proxy.example:3128" + awkward, L"<local>;*.lan",
                                     L"http://wpad/wpad.dat" + awkward, SnapshotId{{0xFF, 0, 0x80, 1}}};
        const ByteString bytes = EncodeProxySnapshot(snapshot);
        EXPECT_EQ(bytes.substr(24, 4), Le32(flags));
        EXPECT_EQ(DecodeProxySnapshot(bytes), snapshot) << "flags " << flags;
    }
}

TEST(ProxySnapshotFormat, FieldLimitIs8192Units) {
    ByteString bytes = "prefix";
    AppendSnapshotField(bytes, WideString(8192, L'x'));
    EXPECT_EQ(bytes.size(), 6u + 4u + 16384u);
    EXPECT_EQ(bytes.substr(6, 4), Le32(16384));

    ByteString untouched = "prefix";
    EXPECT_EQ(ThrownError([&] { AppendSnapshotField(untouched, WideString(8193, L'x')); }), kInvalidData);
    EXPECT_EQ(untouched, "prefix");
    for (int field = 0; field < 4; ++field) {
        ProxySnapshot tooLong;
        WideString* texts[] = {&tooLong.appliedProxyServer, &tooLong.proxyServer, &tooLong.bypassList,
                               &tooLong.autoConfigUrl};
        *texts[field] = WideString(8193, L'y');
        EXPECT_EQ(ThrownError([&] { EncodeProxySnapshot(tooLong); }), kInvalidData) << "field " << field;
    }

    const ProxySnapshot longest{7, WideString(8192, L'a'), WideString(8192, L'b'), WideString(8192, L'c'),
                                WideString(8192, L'd')};
    EXPECT_EQ(DecodeProxySnapshot(EncodeProxySnapshot(longest)), longest);
}

TEST(ProxySnapshotFormat, FourEmptyFieldsDecodeFrom28Or44Bytes) {
    const ByteString bytes = kMagic + Le32(0xDEADBEEF) + ByteString(16, '\0');
    ASSERT_EQ(bytes.size(), 28u);
    EXPECT_EQ(DecodeProxySnapshot(bytes), (ProxySnapshot{0xDEADBEEF, L"", L"", L"", L""}));
    EXPECT_EQ(DecodeProxySnapshot(kIdMagic + kIdBytes + bytes.substr(8)),
              (ProxySnapshot{0xDEADBEEF, L"", L"", L"", L"", kId}));
}

TEST(ProxySnapshotFormat, EveryMalformedShapeIsInvalidData) {
    ProxySnapshot snapshot{3, L"127.0.0.1:8080", L"a:1", L"b", L"c"};
    const ByteString valid = EncodeProxySnapshot(snapshot);
    snapshot.id = kId;
    const ByteString validWithId = EncodeProxySnapshot(snapshot);
    for (size_t size = 0; size < 8; ++size) EXPECT_EQ(DecodeError(kMagic.substr(0, size)), kInvalidData) << size;
    EXPECT_EQ(DecodeError("{\"stage\":\"ready\"}"), kInvalidData);
    for (const char* magic : {"KELDPXY1", "keldpxy2", "KELDPXY4", "keldpxy3"}) {
        EXPECT_EQ(DecodeError(magic + valid.substr(8)), kInvalidData) << magic;
        EXPECT_EQ(DecodeError(magic + validWithId.substr(8)), kInvalidData) << magic;
    }
    for (size_t size = 8; size < 12; ++size) EXPECT_EQ(DecodeError(valid.substr(0, size)), kInvalidData) << size;
    // Cut anywhere inside the id, the flags or the fields, including inside a length.
    for (size_t size = 12; size < valid.size(); ++size) EXPECT_EQ(DecodeError(valid.substr(0, size)), kInvalidData) << size;
    for (size_t size = 8; size < validWithId.size(); ++size) {
        EXPECT_EQ(DecodeError(validWithId.substr(0, size)), kInvalidData) << size;
    }
    EXPECT_EQ(DecodeError(valid + '\0'), kInvalidData);
    EXPECT_EQ(DecodeError(valid + valid), kInvalidData);
    EXPECT_EQ(DecodeError(validWithId + '\0'), kInvalidData);
    // Each layout under the other's magic.
    EXPECT_EQ(DecodeError(kIdMagic + valid.substr(8)), kInvalidData);
    EXPECT_EQ(DecodeError(kMagic + validWithId.substr(8)), kInvalidData);

    const ByteString head = kMagic + Le32(1);
    const ByteString emptyFields = Le32(0) + Le32(0) + Le32(0);
    EXPECT_EQ(DecodeError(head + Le32(16385) + ByteString(16385, 'x') + emptyFields), kInvalidData);
    EXPECT_EQ(DecodeError(head + Le32(16386) + ByteString(16386, 'x') + emptyFields), kInvalidData);
    EXPECT_EQ(DecodeError(head + Le32(0xFFFFFFFF) + emptyFields), kInvalidData);
    EXPECT_EQ(DecodeError(head + Le32(3) + "abc" + emptyFields), kInvalidData);
    EXPECT_EQ(DecodeError(head + Le32(0) + Le32(0) + Le32(0) + Le32(1) + "a"), kInvalidData);
    EXPECT_EQ(DecodeError(head + Le32(2) + "ab" + Le32(0) + Le32(0) + Le32(40) + "short"), kInvalidData);
    // The largest length is accepted.
    const ProxySnapshot largest = DecodeProxySnapshot(head + Le32(16384) + ByteString(16384, 'x') + emptyFields);
    EXPECT_EQ(largest.appliedProxyServer.size(), 8192u);
}

TEST(ProxySnapshotFormat, ReadSnapshotFieldMovesPastOneField) {
    const ByteString bytes = Le32(4) + ByteString("a\0b\0", 4) + Le32(0);
    size_t position = 0;
    EXPECT_EQ(ReadSnapshotField(bytes, position), L"ab");
    EXPECT_EQ(position, 8u);
    EXPECT_EQ(ReadSnapshotField(bytes, position), L"");
    EXPECT_EQ(position, 12u);
    EXPECT_EQ(ThrownError([&] { ReadSnapshotField(bytes, position); }), kInvalidData);
    size_t beyond = bytes.size() + 10;
    EXPECT_EQ(ThrownError([&] { ReadSnapshotField(bytes, beyond); }), kInvalidData);
}

ProxySnapshot RandomSnapshot(std::mt19937& random) {
    auto text = [&random] {
        const size_t length = random() % 24;
        WideString value;
        for (size_t i = 0; i < length; ++i) value.push_back(static_cast<wchar_t>(random() % 3 == 0 ? random() : 32 + random() % 95));
        return value;
    };
    ProxySnapshot snapshot{static_cast<uint32_t>(random()), text(), text(), text(), text()};
    if (random() % 2 == 0) {
        snapshot.id.emplace();
        for (unsigned char& byte : snapshot.id->bytes) byte = static_cast<unsigned char>(random());
    }
    return snapshot;
}

TEST(SnapshotRecordFormat, KeepsEveryLiveSnapshotAndRefusesAnythingElse) {
    EXPECT_EQ(EncodeSnapshotRecord({}), "KELDREC1");
    EXPECT_TRUE(DecodeSnapshotRecord("KELDREC1").empty());
    ProxySnapshot other = kSnapshot;
    other.id->bytes[15] ^= 1;
    other.appliedProxyServer = L"127.0.0.1:9090";
    const SnapshotRecord record = {{L"C:\\users\\a\\proxy state", kSnapshot}, {WideString(300, L'\x00E9'), other}};
    const ByteString bytes = EncodeSnapshotRecord(record);
    ByteString expected = "KELDREC1";
    AppendSnapshotField(expected, record[0].statePath);
    expected += EncodeProxySnapshot(kSnapshot);
    AppendSnapshotField(expected, record[1].statePath);
    expected += EncodeProxySnapshot(other);
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(DecodeSnapshotRecord(bytes), record);
    EXPECT_EQ(FindLiveSnapshot(record, *other.id), &record[1]);
    EXPECT_EQ(UserSettingsBehind(record, L"127.0.0.1:9090"), UserSettingsOf(other));
    EXPECT_EQ(UserSettingsBehind(record, L"127.0.0.1:9091"), std::nullopt);

    auto recordError = [](const ByteString& malformed) { return ThrownError([&] { DecodeSnapshotRecord(malformed); }); };
    EXPECT_EQ(recordError(""), kInvalidData);
    EXPECT_EQ(recordError("KELDREC2" + bytes.substr(8)), kInvalidData);
    for (size_t size = 9; size < bytes.size(); size += 7) EXPECT_EQ(recordError(bytes.substr(0, size)), kInvalidData) << size;
    EXPECT_EQ(recordError(bytes + '\0'), kInvalidData);
    // One id twice, or a snapshot without one, is no record of live snapshots.
    EXPECT_EQ(recordError(EncodeSnapshotRecord({record[0]}) + EncodeSnapshotRecord({record[0]}).substr(8)), kInvalidData);
    ProxySnapshot withoutId = kSnapshot;
    withoutId.id.reset();
    EXPECT_EQ(recordError("KELDREC1" + Le32(0) + EncodeProxySnapshot(withoutId)), kInvalidData);
    EXPECT_EQ(ThrownError([&] { EncodeSnapshotRecord({{L"x", withoutId}}); }), kInvalidData);
}

ByteString Mutate(ByteString bytes, std::mt19937& random) {
    const int edits = 1 + static_cast<int>(random() % 3);
    for (int edit = 0; edit < edits; ++edit) {
        const size_t at = bytes.empty() ? 0 : random() % bytes.size();
        switch (random() % 6) {
            case 0: if (!bytes.empty()) bytes[at] = static_cast<char>(bytes[at] ^ (1 << (random() % 8))); break;
            case 1: if (!bytes.empty()) bytes[at] = static_cast<char>(random()); break;
            case 2: bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), static_cast<char>(random())); break;
            case 3: if (!bytes.empty()) bytes.erase(at, 1 + random() % 4); break;
            case 4: bytes.resize(at); break;
            case 5: if (bytes.size() >= at + 4) bytes.replace(at, 4, Le32(static_cast<uint32_t>(random() % 64))); break;
        }
    }
    return bytes;
}

TEST(ProxySnapshotFormat, MutatedFilesDecodeToTheSameBytesOrAreInvalid) {
    const uint32_t seed = 20261207;
    std::mt19937 random(seed);
    int decoded = 0;
    for (int round = 0; round < 20000; ++round) {
        const ByteString mutated = Mutate(EncodeProxySnapshot(RandomSnapshot(random)), random);
        try {
            const ProxySnapshot snapshot = DecodeProxySnapshot(mutated);
            ASSERT_EQ(EncodeProxySnapshot(snapshot), mutated) << "seed " << seed << ", round " << round;
            ++decoded;
        } catch (Win32Error code) {
            ASSERT_EQ(code, Win32Error{ERROR_INVALID_DATA}) << "seed " << seed << ", round " << round;
        }
    }
    // Both outcomes must occur, or the mutations are not exercising the decoder.
    EXPECT_GT(decoded, 0) << "seed " << seed;
    EXPECT_LT(decoded, 20000) << "seed " << seed;
}

}  // namespace
