#include "host/readiness_probes.h"

#include <vector>

#include "base/command_line.h"
#include "base/process.h"
#include "base/unique_resource.h"

namespace {

constexpr long kConnectWaitMicroseconds = 100000;

SOCKET InvalidSocketValue() { return INVALID_SOCKET; }
void CloseSocket(SOCKET socket) { closesocket(socket); }
using UniqueSocket = UniqueResource<SOCKET, CloseSocket, InvalidSocketValue>;

bool ConnectedWithinWait(SOCKET probe) {
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(probe, &writable);
    timeval wait{0, kConnectWaitMicroseconds};
    if (select(0, nullptr, &writable, nullptr, &wait) <= 0) return false;
    int pendingError = 0;
    int length = sizeof(pendingError);
    if (getsockopt(probe, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&pendingError), &length) != 0) return false;
    return pendingError == 0;
}

constexpr ULONG kFirstQueryBytes = 16000;

using GetAdaptersAddressesFunction = ULONG WINAPI(ULONG, ULONG, PVOID, PIP_ADAPTER_ADDRESSES, PULONG);

// 8-byte aligned storage for the adapter list.
std::vector<ULONGLONG> AdapterBuffer(ULONG bytes) { return std::vector<ULONGLONG>((bytes + 7) / 8, 0); }

}  // namespace

bool IsApiPortOpen(const WideString& apiOption) {
    const UniqueSocket probe(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!probe.IsValid()) return false;
    u_long nonBlocking = 1;
    ioctlsocket(probe.Get(), FIONBIO, &nonBlocking);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(ParseUnsigned32(apiOption) & 0xFFFF));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(probe.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) return true;
    return ConnectedWithinWait(probe.Get());
}

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
