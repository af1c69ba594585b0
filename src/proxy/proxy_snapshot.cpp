#include "proxy/proxy_snapshot.h"

#include <string_view>

#include "base/file_by_handle.h"
#include "base/file_io.h"
#include "base/process.h"
#include "base/unique_resource.h"
#include "base/win32.h"

#include <bcrypt.h>
#include <ntsecapi.h>

namespace {

constexpr std::string_view kMagic(kProxySnapshotMagic, sizeof(kProxySnapshotMagic) - 1);
constexpr std::string_view kEarlierMagic(kEarlierProxySnapshotMagic, sizeof(kEarlierProxySnapshotMagic) - 1);
constexpr size_t kIdOffset = kMagic.size();
constexpr size_t kIdBytes = sizeof(SnapshotId::bytes);
constexpr size_t kHeadBytes = kIdOffset + kIdBytes;

constexpr size_t kSerialDigits = 8;
constexpr size_t kIndexDigits = 16;

constexpr std::wstring_view kHexadecimalDigits = L"0123456789ABCDEF";

WideString Hexadecimal(uint64_t value, size_t digits) {
    WideString text(digits, L'0');
    for (size_t i = digits; i-- > 0; value >>= 4) text[i] = kHexadecimalDigits[value & 0xF];
    return text;
}

std::optional<uint64_t> ParseHexadecimal(const WideString& text) {
    uint64_t value = 0;
    for (wchar_t unit : text) {
        const size_t digit = kHexadecimalDigits.find(unit);
        if (digit == WideString::npos) return std::nullopt;
        value = (value << 4) | digit;
    }
    return value;
}

[[noreturn]] void ThrowInvalidData() { throw Win32Error{ERROR_INVALID_DATA}; }

void AppendUnsigned32(ByteString& bytes, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>((value >> shift) & 0xFF));
}

uint32_t ReadUnsigned32(const ByteString& bytes, size_t position) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[position + i]);
    return value;
}

size_t RemainingAt(const ByteString& bytes, size_t position) {
    return position <= bytes.size() ? bytes.size() - position : 0;
}

bool HasAt(const ByteString& bytes, size_t position, std::string_view magic) {
    return RemainingAt(bytes, position) >= magic.size() && std::string_view(bytes).substr(position, magic.size()) == magic;
}

SnapshotId IdAt(const ByteString& bytes, size_t position) {
    SnapshotId id;
    for (size_t i = 0; i < kIdBytes; ++i) id.bytes[i] = static_cast<unsigned char>(bytes[position + i]);
    return id;
}

// Reads the magic of either layout, and the id that follows the current one, and moves past them.
std::optional<SnapshotId> ReadHead(const ByteString& bytes, size_t& position) {
    if (HasAt(bytes, position, kEarlierMagic)) {
        position += kEarlierMagic.size();
        return std::nullopt;
    }
    if (!HasAt(bytes, position, kMagic) || RemainingAt(bytes, position) < kHeadBytes) ThrowInvalidData();
    const SnapshotId id = IdAt(bytes, position + kIdOffset);
    position += kHeadBytes;
    return id;
}

using GenerateRandomFunction = NTSTATUS WINAPI(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, ULONG);

}  // namespace

void AppendSnapshotField(ByteString& bytes, const WideString& text) {
    if (text.size() > kMaxSnapshotTextUnits) ThrowInvalidData();
    AppendUnsigned32(bytes, static_cast<uint32_t>(2 * text.size()));
    for (wchar_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>((unit >> 8) & 0xFF));
    }
}

WideString ReadSnapshotField(const ByteString& bytes, size_t& position) {
    if (RemainingAt(bytes, position) < 4) ThrowInvalidData();
    const uint32_t length = ReadUnsigned32(bytes, position);
    position += 4;
    if (length > kMaxSnapshotFieldBytes || length % 2 != 0 || RemainingAt(bytes, position) < length) {
        ThrowInvalidData();
    }
    WideString text(length / 2, L'\0');
    for (size_t i = 0; i < text.size(); ++i) {
        const auto low = static_cast<unsigned char>(bytes[position + 2 * i]);
        const auto high = static_cast<unsigned char>(bytes[position + 2 * i + 1]);
        text[i] = static_cast<wchar_t>(low | (high << 8));
    }
    position += length;
    return text;
}

ByteString EncodeProxySnapshot(const ProxySnapshot& snapshot) {
    ByteString bytes(snapshot.id ? kMagic : kEarlierMagic);
    if (snapshot.id) bytes.append(snapshot.id->bytes.begin(), snapshot.id->bytes.end());
    AppendUnsigned32(bytes, snapshot.flags);
    AppendSnapshotField(bytes, snapshot.appliedProxyServer);
    AppendSnapshotField(bytes, snapshot.proxyServer);
    AppendSnapshotField(bytes, snapshot.bypassList);
    AppendSnapshotField(bytes, snapshot.autoConfigUrl);
    return bytes;
}

ProxySnapshot ReadProxySnapshotAt(const ByteString& bytes, size_t& position) {
    ProxySnapshot snapshot;
    snapshot.id = ReadHead(bytes, position);
    if (RemainingAt(bytes, position) < 4) ThrowInvalidData();
    snapshot.flags = ReadUnsigned32(bytes, position);
    position += 4;
    snapshot.appliedProxyServer = ReadSnapshotField(bytes, position);
    snapshot.proxyServer = ReadSnapshotField(bytes, position);
    snapshot.bypassList = ReadSnapshotField(bytes, position);
    snapshot.autoConfigUrl = ReadSnapshotField(bytes, position);
    return snapshot;
}

ProxySnapshot DecodeProxySnapshot(const ByteString& bytes) {
    size_t position = 0;
    ProxySnapshot snapshot = ReadProxySnapshotAt(bytes, position);
    if (position != bytes.size()) ThrowInvalidData();
    return snapshot;
}

void WriteProxySnapshot(const WideString& path, const ProxySnapshot& snapshot) {
    const ByteString bytes = EncodeProxySnapshot(snapshot);
    WriteFileAtomically(path, bytes);
    if (ReadWholeFile(path) != bytes) throw Win32Error{ERROR_WRITE_FAULT};
}

ProxySnapshot ReadProxySnapshot(const WideString& path) { return DecodeProxySnapshot(ReadWholeFile(path)); }

bool SnapshotExists(const WideString& path) {
    const DWORD error = LookAtPath(path);
    if (error == ERROR_FILE_NOT_FOUND) return false;
    if (error != ERROR_SUCCESS) throw Win32Error{error};
    return true;
}

std::optional<SnapshotId> SnapshotIdAt(const WideString& path) {
    const UniqueHandleFile file(
        CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, kClientPathOpenFlags, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
        throw Win32Error{error};
    }
    if (!IsDiskFile(file.Get())) return std::nullopt;
    ByteString head(kHeadBytes, '\0');
    DWORD read = 0;
    if (!ReadFile(file.Get(), head.data(), static_cast<DWORD>(head.size()), &read, nullptr)) {
        throw Win32Error{GetLastError()};
    }
    if (read < kHeadBytes || !HasAt(head, 0, kMagic)) return std::nullopt;
    return IdAt(head, kIdOffset);
}

SnapshotId NewSnapshotId() {
    auto* generate = LoadSystemFunction<GenerateRandomFunction>(L"bcrypt.dll", "BCryptGenRandom");
    SnapshotId id;
    const NTSTATUS status = generate(nullptr, id.bytes.data(), static_cast<ULONG>(id.bytes.size()),
                                     BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status < 0) throw Win32Error{LsaNtStatusToWinError(status)};
    return id;
}

WideString FormatSnapshotId(const SnapshotId& id) {
    WideString text;
    for (unsigned char byte : id.bytes) text += Hexadecimal(byte, 2);
    return text;
}

std::optional<SnapshotId> ParseSnapshotId(const WideString& text) {
    if (text.size() != 2 * kIdBytes) return std::nullopt;
    SnapshotId id;
    for (size_t i = 0; i < kIdBytes; ++i) {
        const std::optional<uint64_t> byte = ParseHexadecimal(text.substr(2 * i, 2));
        if (!byte) return std::nullopt;
        id.bytes[i] = static_cast<unsigned char>(*byte);
    }
    return id;
}

WideString FormatEarlierSnapshotId(const FileIdentity& identity) {
    return Hexadecimal(identity.volumeSerial, kSerialDigits) + L"-" + Hexadecimal(identity.fileIndex, kIndexDigits);
}

std::optional<FileIdentity> ParseEarlierSnapshotId(const WideString& text) {
    if (text.size() != kSerialDigits + 1 + kIndexDigits || text[kSerialDigits] != L'-') return std::nullopt;
    const std::optional<uint64_t> serial = ParseHexadecimal(text.substr(0, kSerialDigits));
    const std::optional<uint64_t> index = ParseHexadecimal(text.substr(kSerialDigits + 1));
    if (!serial || !index) return std::nullopt;
    return FileIdentity{static_cast<uint32_t>(*serial), *index};
}
