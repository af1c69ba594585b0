#include "loopback_port.h"

#include "base/unique_resource.h"
#include "base/win32.h"

namespace {

SOCKET NoSocket() { return INVALID_SOCKET; }
void CloseSocket(SOCKET handle) { closesocket(handle); }
using UniqueSocket = UniqueResource<SOCKET, CloseSocket, NoSocket>;

// Winsock, started for as long as the object lives.
class WinsockSession {
public:
    WinsockSession() {
        WSADATA winsock{};
        started_ = WSAStartup(MAKEWORD(2, 2), &winsock) == 0;
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
    ~WinsockSession() {
        if (started_) WSACleanup();
    }
    bool Started() const { return started_; }

private:
    bool started_ = false;
};

}  // namespace

uint16_t FreeLoopbackPort() {
    const WinsockSession winsock;
    if (!winsock.Started()) return 0;
    const UniqueSocket probe(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    const bool bound = probe && bind(probe.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
                       getsockname(probe.Get(), reinterpret_cast<sockaddr*>(&address), &length) == 0;
    return bound ? ntohs(address.sin_port) : 0;
}
