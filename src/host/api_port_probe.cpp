#include "base/command_line.h"
#include "base/unique_resource.h"
#include "host/readiness_probes.h"

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
