#include "platform/Descriptors.h"

#include <OrnUtil/Comm.h>

namespace {

constexpr int IN_CAPACITY = 512000;
constexpr int OUT_CAPACITY = 64000;

bool IsConnected(const OrnUtil::CComm& comm) {
    return __atomic_load_n(&comm.Connected, __ATOMIC_ACQUIRE);
}

} // namespace

CCommBufBinIn::CCommBufBinIn(const std::shared_ptr<OrnUtil::CComm>& comm)
    : BinBuffer(IN_CAPACITY), m_Comm(comm) {}

CCommBufBinIn::~CCommBufBinIn() = default;

bool CCommBufBinIn::Recv(unsigned int n, char* data) {
    return m_Comm && IsConnected(*m_Comm) && m_Comm->Recv(n, data);
}

bool CCommBufBinIn::Recv() {
    unsigned char prefix[4];
    if (!Recv(sizeof prefix, reinterpret_cast<char*>(prefix)))
        return false;
    const uint32_t length =
        prefix[0] | prefix[1] << 8 | prefix[2] << 16 | static_cast<uint32_t>(prefix[3]) << 24;
    Clear();
    // The payload and its terminator must fit; a longer message is never received into the
    // storage, whatever its length claims.
    if (length < static_cast<uint32_t>(InAvail()) && Recv(length, WritePtr())) {
        ResvN(static_cast<int32_t>(length));
        PutC(0);
        return true;
    }
    // Drained bytes land at the write cursor without moving it: the buffer stays empty.
    for (uint32_t drained = 0; drained < length && Recv(1, WritePtr()); ++drained) {
    }
    PutC('{');
    PutC('}');
    PutC(0);
    return true;
}

CCommBufBinOut::CCommBufBinOut(const std::shared_ptr<OrnUtil::CComm>& comm)
    : BinBuffer(OUT_CAPACITY), m_Comm(comm) {}

CCommBufBinOut::~CCommBufBinOut() = default;

bool CCommBufBinOut::Send(unsigned int n, const char* data) {
    return m_Comm && IsConnected(*m_Comm) && m_Comm->Send(n, data);
}

bool CCommBufBinOut::Send() {
    const int32_t length = OutAvail();
    if (length == 0 || !m_Comm)
        return false;
    const auto count = static_cast<uint32_t>(length);
    const char prefix[4] = {static_cast<char>(count), static_cast<char>(count >> 8),
                            static_cast<char>(count >> 16), static_cast<char>(count >> 24)};
    // The prefix and the payload share one block of SIGPIPE.
    const OrnUtil::platform::SigpipeHold hold;
    if (!m_Comm->Send(sizeof prefix, prefix) || !m_Comm->Send(count, ReadPtr()))
        return false;
    Clear();
    return true;
}
