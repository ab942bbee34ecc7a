#include "platform/Sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace OrnUtil::platform {

uint32_t ResolveIPv4(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0 && found != nullptr) {
        const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
        const uint32_t resolved = ntohl(address->sin_addr.s_addr);
        freeaddrinfo(found);
        return resolved;
    }
    return ntohl(inet_addr(host.c_str()));
}

int OpenTcpSocket() {
    return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
}

bool ConnectIPv4(int socket, uint32_t addr, uint16_t port) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = htonl(addr);
    if (connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0)
        return true;
    if (errno != EINTR)
        return false;
    // Calling connect again would only report EALREADY: wait for the attempt to end instead.
    pollfd watched{socket, POLLOUT, 0};
    while (poll(&watched, 1, -1) < 0) {
        if (errno != EINTR)
            return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return false;
    errno = error;
    return error == 0;
}

ssize_t SendSome(int socket, const void* data, size_t size) {
    return send(socket, data, size, MSG_NOSIGNAL);
}

ssize_t ReceiveSome(int socket, void* data, size_t size) {
    return recv(socket, data, size, 0);
}

bool SetSocketOption(int socket, uint32_t level, uint32_t name, uint32_t value) {
    const int32_t option = static_cast<int32_t>(value);
    return setsockopt(socket, static_cast<int>(level), static_cast<int>(name), &option,
                      sizeof option) == 0;
}

void CloseSocket(int socket) {
    close(socket);
}

} // namespace OrnUtil::platform
