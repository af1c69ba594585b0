#include "proxy/proxy_snapshot_record.h"

#include <string_view>

#include "base/unique_resource.h"
#include "base/win32.h"

namespace {

constexpr std::string_view kMagic(kSnapshotRecordMagic, sizeof(kSnapshotRecordMagic) - 1);

[[noreturn]] void ThrowInvalidData() { throw Win32Error{ERROR_INVALID_DATA}; }

void ThrowUnlessSuccess(LSTATUS status) {
    if (status != ERROR_SUCCESS) throw Win32Error{static_cast<DWORD>(status)};
}

// The value's bytes; empty when there is no record. A value of another type is no record of ours.
ByteString ReadRecordValue() {
    for (;;) {
        DWORD size = 0;
        LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, kHelperRegistryKey, kSnapshotRecordValue,
                                      RRF_RT_REG_BINARY, nullptr, nullptr, &size);
        if (status == ERROR_FILE_NOT_FOUND) return {};
        if (status == ERROR_UNSUPPORTED_TYPE) ThrowInvalidData();
        ThrowUnlessSuccess(status);
        if (size > kMaxSnapshotRecordBytes) ThrowInvalidData();
        ByteString bytes(size, '\0');
        status = RegGetValueW(HKEY_CURRENT_USER, kHelperRegistryKey, kSnapshotRecordValue, RRF_RT_REG_BINARY,
                              nullptr, bytes.data(), &size);
        if (status == ERROR_MORE_DATA) continue;  // replaced in between by a program that ignores the lock
        if (status == ERROR_FILE_NOT_FOUND) return {};
        ThrowUnlessSuccess(status);
        bytes.resize(size);
        return bytes;
    }
}

void RemoveRecordValue() {
    UniqueRegistryKey key;
    const LSTATUS opened = RegOpenKeyExW(HKEY_CURRENT_USER, kHelperRegistryKey, 0, KEY_SET_VALUE, key.Put());
    if (opened == ERROR_FILE_NOT_FOUND) return;
    ThrowUnlessSuccess(opened);
    const LSTATUS deleted = RegDeleteValueW(key.Get(), kSnapshotRecordValue);
    if (deleted != ERROR_FILE_NOT_FOUND) ThrowUnlessSuccess(deleted);
    key.Reset();
    // The key was only ever the helper's: once it holds nothing it goes too (best effort; it
    // stays if anything else was put into it).
    RegDeleteKeyW(HKEY_CURRENT_USER, kHelperRegistryKey);
}

}  // namespace

ByteString EncodeSnapshotRecord(const SnapshotRecord& record) {
    ByteString bytes(kMagic);
    for (const LiveSnapshot& live : record) {
        if (!live.snapshot.id) ThrowInvalidData();
        AppendSnapshotField(bytes, live.statePath);
        bytes += EncodeProxySnapshot(live.snapshot);
    }
    if (bytes.size() > kMaxSnapshotRecordBytes) ThrowInvalidData();
    return bytes;
}

SnapshotRecord DecodeSnapshotRecord(const ByteString& bytes) {
    if (bytes.size() > kMaxSnapshotRecordBytes || !std::string_view(bytes).starts_with(kMagic)) ThrowInvalidData();
    SnapshotRecord record;
    size_t position = kMagic.size();
    while (position < bytes.size()) {
        LiveSnapshot live;
        live.statePath = ReadSnapshotField(bytes, position);
        live.snapshot = ReadProxySnapshotAt(bytes, position);
        if (!live.snapshot.id || FindLiveSnapshot(record, *live.snapshot.id)) ThrowInvalidData();
        record.push_back(std::move(live));
    }
    return record;
}

SnapshotRecord ReadSnapshotRecord() {
    const ByteString bytes = ReadRecordValue();
    return bytes.empty() ? SnapshotRecord() : DecodeSnapshotRecord(bytes);
}

void WriteSnapshotRecord(const SnapshotRecord& record) {
    if (record.empty()) {
        RemoveRecordValue();
        return;
    }
    const ByteString bytes = EncodeSnapshotRecord(record);
    UniqueRegistryKey key;
    ThrowUnlessSuccess(RegCreateKeyExW(HKEY_CURRENT_USER, kHelperRegistryKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                       key.Put(), nullptr));
    ThrowUnlessSuccess(RegSetValueExW(key.Get(), kSnapshotRecordValue, 0, REG_BINARY,
                                      reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size())));
}

const LiveSnapshot* FindLiveSnapshot(const SnapshotRecord& record, const SnapshotId& id) {
    for (const LiveSnapshot& live : record) {
        if (live.snapshot.id == id) return &live;
    }
    return nullptr;
}

std::optional<ProxySettings> UserSettingsBehind(const SnapshotRecord& record, const WideString& proxyServer) {
    for (const LiveSnapshot& live : record) {
        if (live.snapshot.appliedProxyServer == proxyServer) return UserSettingsOf(live.snapshot);
    }
    return std::nullopt;
}
