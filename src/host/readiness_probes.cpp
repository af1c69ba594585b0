#include "host/readiness_probes.h"

#include <vector>

#include <mstcpip.h>

#include "base/command_line.h"
#include "base/process.h"
#include "base/unique_resource.h"

namespace {

constexpr long kConnectWaitMicroseconds = 100000;

SOCKET InvalidSocketValue() { return INVALID_SOCKET; }
void CloseSocket(SOCKET socket) { closesocket(socket); }
using UniqueSocket = UniqueResource<SOCKET, CloseSocket, InvalidSocketValue>;

// Windows sends a SYN that was refused again, so a connection to a closed loopback port fails only
// after about two seconds; told to send it once, it fails at once, as elsewhere. Where the control
// is refused (Wine, whose connections fail at once anyway) the wait below still bounds the probe.
void FailAtOnceWhenRefused(SOCKET probe) {
    TCP_INITIAL_RTO_PARAMETERS once{TCP_INITIAL_RTO_UNSPECIFIED_RTT, TCP_INITIAL_RTO_NO_SYN_RETRANSMISSIONS};
    DWORD returned = 0;
    WSAIoctl(probe, SIO_TCP_INITIAL_RTO, &once, sizeof(once), nullptr, 0, &returned, nullptr, nullptr);
}

// A refused connection is in the exception set, so it ends the wait at once.
bool ConnectedWithinWait(SOCKET probe) {
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(probe, &writable);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(probe, &failed);
    timeval wait{0, kConnectWaitMicroseconds};
    if (select(0, nullptr, &writable, &failed, &wait) <= 0 || FD_ISSET(probe, &failed)) return false;
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

uint16_t ApiPort(const WideString& apiOption) { return static_cast<uint16_t>(ParseUnsigned32(apiOption) & 0xFFFF); }

bool IsApiPortOpen(const WideString& apiOption) {
    const UniqueSocket probe(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!probe.IsValid()) return false;
    u_long nonBlocking = 1;
    ioctlsocket(probe.Get(), FIONBIO, &nonBlocking);
    FailAtOnceWhenRefused(probe.Get());
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(ApiPort(apiOption));
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
