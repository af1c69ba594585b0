#include "support/loopback_port.h"

#include <stdexcept>

#include "base/win32.h"

namespace testing_support {

uint16_t FreeLoopbackPort() {
    static const bool started = [] {
        WSADATA winsock{};
        return WSAStartup(MAKEWORD(2, 2), &winsock) == 0;
    }();
    if (!started) throw std::runtime_error("Winsock did not start");
    const SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    const bool bound = probe != INVALID_SOCKET &&
                       bind(probe, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
                       getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    if (probe != INVALID_SOCKET) closesocket(probe);
    if (!bound) throw std::runtime_error("no free loopback port");
    return ntohs(address.sin_port);
}

}  // namespace testing_support
