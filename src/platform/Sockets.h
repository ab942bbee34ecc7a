// BSD sockets for the TCP channel. Addresses and ports are in host byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace OrnUtil::platform {

// The first IPv4 address that a name lookup gives for `host` (dotted text included), else the
// dotted text parsed as inet_addr does: 0xFFFFFFFF for text that neither accepts.
uint32_t ResolveIPv4(const std::string& host);

// A new IPv4 TCP socket, or -1 with errno.
int OpenTcpSocket();

// Connects to addr:port. An interrupted attempt is waited out, not restarted (the kernel goes on
// connecting). False with errno.
bool ConnectIPv4(int socket, uint32_t addr, uint16_t port);

// One send(2) that never raises SIGPIPE. The bytes sent, or -1 with errno.
ssize_t SendSome(int socket, const void* data, size_t size);

// One recv(2): the bytes received, 0 when the peer has closed, -1 with errno.
ssize_t ReceiveSome(int socket, void* data, size_t size);

// setsockopt with a 4-byte value. False with errno.
bool SetSocketOption(int socket, uint32_t level, uint32_t name, uint32_t value);

void CloseSocket(int socket);

} // namespace OrnUtil::platform
