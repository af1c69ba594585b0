#include "proxy/proxy_snapshot.h"

#include <string_view>

#include "base/file_io.h"
#include "base/win32.h"

namespace {

constexpr std::string_view kMagic(kProxySnapshotMagic, sizeof(kProxySnapshotMagic) - 1);
constexpr size_t kFlagsOffset = kMagic.size();
constexpr size_t kFirstFieldOffset = kFlagsOffset + 4;

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
    ByteString bytes(kMagic);
    AppendUnsigned32(bytes, snapshot.flags);
    AppendSnapshotField(bytes, snapshot.appliedProxyServer);
    AppendSnapshotField(bytes, snapshot.proxyServer);
    AppendSnapshotField(bytes, snapshot.bypassList);
    AppendSnapshotField(bytes, snapshot.autoConfigUrl);
    return bytes;
}

ProxySnapshot DecodeProxySnapshot(const ByteString& bytes) {
    if (bytes.size() < kMagic.size() || std::string_view(bytes).substr(0, kMagic.size()) != kMagic) {
        ThrowInvalidData();
    }
    if (bytes.size() < kFirstFieldOffset) ThrowInvalidData();
    ProxySnapshot snapshot;
    snapshot.flags = ReadUnsigned32(bytes, kFlagsOffset);
    size_t position = kFirstFieldOffset;
    snapshot.appliedProxyServer = ReadSnapshotField(bytes, position);
    snapshot.proxyServer = ReadSnapshotField(bytes, position);
    snapshot.bypassList = ReadSnapshotField(bytes, position);
    snapshot.autoConfigUrl = ReadSnapshotField(bytes, position);
    if (position != bytes.size()) ThrowInvalidData();
    return snapshot;
}

void WriteProxySnapshot(const WideString& path, const ProxySnapshot& snapshot) {
    const ByteString bytes = EncodeProxySnapshot(snapshot);
    WriteFileAtomically(path, bytes);
    if (ReadWholeFile(path) != bytes) throw Win32Error{ERROR_WRITE_FAULT};
}

ProxySnapshot ReadProxySnapshot(const WideString& path) { return DecodeProxySnapshot(ReadWholeFile(path)); }

WideString FormatSnapshotId(const FileIdentity& identity) {
    return Hexadecimal(identity.volumeSerial, kSerialDigits) + L"-" + Hexadecimal(identity.fileIndex, kIndexDigits);
}

std::optional<FileIdentity> ParseSnapshotId(const WideString& text) {
    if (text.size() != kSerialDigits + 1 + kIndexDigits || text[kSerialDigits] != L'-') return std::nullopt;
    const std::optional<uint64_t> serial = ParseHexadecimal(text.substr(0, kSerialDigits));
    const std::optional<uint64_t> index = ParseHexadecimal(text.substr(kSerialDigits + 1));
    if (!serial || !index) return std::nullopt;
    return FileIdentity{static_cast<uint32_t>(*serial), *index};
}
