#include "host/interface_probe.h"

#include <vector>

#include "base/process.h"
#include "host/readiness_probes.h"

namespace {

constexpr ULONG kFirstQueryBytes = 16000;

using GetAdaptersAddressesFunction = ULONG WINAPI(ULONG, ULONG, PVOID, PIP_ADAPTER_ADDRESSES, PULONG);

// 8-byte aligned storage for the adapter list.
std::vector<ULONGLONG> AdapterBuffer(ULONG bytes) { return std::vector<ULONGLONG>((bytes + 7) / 8, 0); }

}  // namespace

bool HasAdapterUp(const IP_ADAPTER_ADDRESSES* adapters, const WideString& friendlyName) {
    for (const IP_ADAPTER_ADDRESSES* adapter = adapters; adapter != nullptr; adapter = adapter->Next) {
        if (adapter->FriendlyName == nullptr) continue;
        if (adapter->FriendlyName == friendlyName && adapter->OperStatus == IfOperStatusUp) return true;
    }
    return false;
}

bool IsInterfaceUp(const WideString& friendlyName) {
    GetAdaptersAddressesFunction* getAdapters = nullptr;
    try {
        getAdapters = LoadSystemFunction<GetAdaptersAddressesFunction>(L"iphlpapi.dll", "GetAdaptersAddresses");
    } catch (const Win32Error&) {
        return false;
    }
    ULONG size = kFirstQueryBytes;
    std::vector<ULONGLONG> buffer = AdapterBuffer(size);
    auto* adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    ULONG result = getAdapters(AF_UNSPEC, GAA_FLAG_INCLUDE_ALL_INTERFACES, nullptr, adapters, &size);
    if (result == ERROR_BUFFER_OVERFLOW) {
        buffer = AdapterBuffer(size);
        adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
        result = getAdapters(AF_UNSPEC, GAA_FLAG_INCLUDE_ALL_INTERFACES, nullptr, adapters, &size);
    }
    if (result != ERROR_SUCCESS) return false;
    return HasAdapterUp(adapters, friendlyName);
}
