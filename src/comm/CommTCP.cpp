#include "comm/CancelGate.h"
#include "comm/Descriptor.h"
#include "comm/ReceiveLoop.h"
#include "log/LogStatement.h"
#include "platform/Descriptors.h"
#include "platform/Sockets.h"

#include <OrnUtil/Comm.h>
#include <cerrno>
#include <cstring>

namespace OrnUtil {

using internal::AsFd;

namespace {

constexpr unsigned int TCP_LEVEL = 6; // IPPROTO_TCP
constexpr unsigned int NO_DELAY = 1;  // TCP_NODELAY

} // namespace

int32_t CCommTCP::WsaErr = -1;

CCommTCP::CCommTCP(unsigned int socket) : CComm(socket, socket), m_PeerAddr(0), m_PeerPort(0) {
    InitWS2();
    CComm::SetOption(TCP_LEVEL, NO_DELAY, 1);
    CComm::Connect();
}

CCommTCP::CCommTCP(unsigned int addr, unsigned short port) : m_PeerAddr(addr), m_PeerPort(port) {
    InitWS2();
}

CCommTCP::CCommTCP(std::string host, unsigned short port) : m_PeerAddr(0), m_PeerPort(port) {
    InitWS2();
    m_PeerAddr = platform::ResolveIPv4(host);
}

CCommTCP& CCommTCP::operator=(CCommTCP& other) {
    m_PeerAddr = other.m_PeerAddr;
    m_PeerPort = other.m_PeerPort;
    return *this;
}

CCommTCP::~CCommTCP() {
    if (IsConnected())
        Disconnect();
    else if (m_FdIn != NONE)
        CloseSocket(); // left open by a failed Connect
}

// The socket layer needs no start-up here; the result is shared by every channel of the process.
bool CCommTCP::InitWS2() {
    if (__atomic_load_n(&WsaErr, __ATOMIC_RELAXED) == 0)
        return true;
    __atomic_store_n(&WsaErr, 0, __ATOMIC_RELAXED);
    return true;
}

bool CCommTCP::Connect() {
    ORN_LOG(DEBUG, "OrnUtil::CCommTCP::Connect") << "";
    if (IsConnected())
        return true;
    if (m_FdIn != NONE)
        CloseSocket(); // left open by a failed attempt
    const int socket = platform::OpenTcpSocket();
    if (socket < 0) {
        ORN_LOG(ERROR, "OrnUtil::CCommTCP::Connect") << std::strerror(errno);
        return false;
    }
    m_FdIn = m_FdOut = static_cast<unsigned int>(socket);
    if (!ApplyOptions())
        return false;
    if (!platform::ConnectIPv4(socket, m_PeerAddr, m_PeerPort)) {
        ORN_LOG(ERROR, "OrnUtil::CCommTCP::Connect") << std::strerror(errno);
        return false;
    }
    SetOption(TCP_LEVEL, NO_DELAY, 1);
    if (CComm::Connect())
        return true;
    CloseSocket();
    return false;
}

bool CCommTCP::Disconnect() {
    ORN_LOG(DEBUG, "OrnUtil::CCommTCP::Disconnect") << "";
    // The cancel signal wakes a receive waiting in another thread; the socket is closed only once
    // that receive has left, so that it never reads a descriptor number that is being reused.
    // Without the signal the base's cancel has nothing left to raise.
    m_CancelSem->Close();
    CloseSocket();
    return CComm::Disconnect();
}

// No shutdown: it would act on the connection itself, which a copy's duplicate shares. The peer
// sees the end when the last descriptor on the socket closes.
bool CCommTCP::CloseSocket() {
    if (m_FdIn != NONE)
        platform::CloseSocket(AsFd(m_FdIn));
    m_FdIn = m_FdOut = NONE;
    return true;
}

bool CCommTCP::Send(unsigned int n, const char* data) {
    ORN_LOG(DEBUG3, "OrnUtil::CCommTCP::Send") << CHex(data, n);
    if (!IsConnected())
        return false;
    if (platform::WriteAll(AsFd(m_FdOut), data, n, platform::SendSome))
        return true;
    const int error = errno;
    if (error != 0) {
        ORN_LOG(ERROR, "OrnUtil::CCommTCP::Send") << "WSASend: " << error;
    }
    return false;
}

bool CCommTCP::Recv(unsigned int n, char* data) {
    if (!IsConnected())
        return false;
    ORN_LOG(DEBUG, "OrnUtil::CCommTCP::Recv") << "N: " << n;
    auto stopped = [this](platform::Wake wake) {
        const int error = errno;
        switch (wake) {
        case platform::Wake::Cancelled:
            ORN_LOG(INFO, "OrnUtil::CCommTCP::Recv") << "Cancelled";
            break;
        case platform::Wake::Invalid:
            ORN_LOG(ERROR, "OrnUtil::CCommTCP::Recv") << "WSASelect: " << error;
            break;
        case platform::Wake::Failed:
            ORN_LOG(ERROR, "OrnUtil::CCommTCP::Recv") << "Wait Failed: " << error;
            break;
        case platform::Wake::Ready:
            break;
        }
    };
    auto received = [this](ssize_t got) {
        ORN_LOG(DEBUG1, "OrnUtil::CCommTCP::Recv") << "R: " << got;
    };
    if (!internal::ReceiveAll(*m_CancelSem, m_FdIn, n, data,
                              {platform::ReceiveSome, stopped, received}))
        return false;
    ORN_LOG(DEBUG3, "OrnUtil::CCommTCP::Recv") << CHex(data, n);
    return true;
}

bool CCommTCP::SetOption(unsigned int level, unsigned int name, unsigned int value) {
    if (!IsConnected())
        return CComm::SetOption(level, name, value);
    return platform::SetSocketOption(AsFd(m_FdOut), level, name, value);
}

bool CCommTCP::ApplyOptions() {
    while (!m_Options.empty()) {
        const CommOption& newest = m_Options.back();
        if (!platform::SetSocketOption(AsFd(m_FdIn), newest.Level, newest.Name, newest.Value)) {
            ORN_LOG(ERROR, "OrnUtil::CCommTCP::ApplyOptions")
                << "Failed to set socket options " << errno;
            return false;
        }
        m_Options.pop_back();
    }
    return true;
}

} // namespace OrnUtil
