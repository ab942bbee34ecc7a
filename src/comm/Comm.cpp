#include "comm/CancelGate.h"
#include "comm/Descriptor.h"
#include "comm/ReceiveLoop.h"
#include "platform/Descriptors.h"

#include <OrnUtil/Comm.h>

namespace OrnUtil {

using internal::AsFd;

namespace {

unsigned int Duplicate(unsigned int descriptor) {
    return descriptor == CComm::NONE
               ? CComm::NONE
               : static_cast<unsigned int>(platform::DuplicateDescriptor(AsFd(descriptor)));
}

} // namespace

CComm::CComm() : CComm(NONE, NONE) {}

CComm::CComm(unsigned int in, unsigned int out)
    : Connected(m_Connected), m_Connected(false), m_FdIn(in), m_FdOut(out),
      m_CancelSem(std::make_unique<internal::CancelGate>()) {}

// The copy writes to a duplicate of the output descriptor, which it alone closes. The input is
// never closed by a channel, so both may read the same one; an input that is also the output
// (a socket, a terminal) is read through the duplicate.
CComm::CComm(const CComm& other)
    : Connected(m_Connected), m_Connected(other.IsConnected()), m_FdIn(other.m_FdIn),
      m_FdOut(Duplicate(other.m_FdOut)), m_Options(other.m_Options),
      m_CancelSem(std::make_unique<internal::CancelGate>()) {
    if (other.m_FdIn == other.m_FdOut)
        m_FdIn = m_FdOut;
    m_CancelSem->HoldOutput();
    if (m_Connected && !m_CancelSem->Open())
        m_Connected = false;
}

CComm::~CComm() {
    if (m_Connected) {
        CComm::CancelRecv();
        m_CancelSem->Close();
        m_Connected = false;
    } else if (!m_CancelSem->HoldsOutput()) {
        return;
    }
    if (m_FdOut != NONE) {
        platform::CloseDescriptor(AsFd(m_FdOut));
        m_FdOut = NONE;
    }
}

bool CComm::Connect() {
    if (IsConnected())
        return true;
    if (!m_CancelSem->Open())
        return false;
    ApplyOptions();
    __atomic_store_n(&m_Connected, true, __ATOMIC_RELEASE);
    return true;
}

bool CComm::Disconnect() {
    if (!IsConnected())
        return false;
    CancelRecv();
    m_CancelSem->Close();
    __atomic_store_n(&m_Connected, false, __ATOMIC_RELEASE);
    if (m_FdOut != NONE) {
        platform::CloseDescriptor(AsFd(m_FdOut));
        m_FdOut = NONE;
    }
    return true;
}

bool CComm::Send(unsigned int n, const char* data) {
    return IsConnected() && platform::WriteAll(AsFd(m_FdOut), data, n, platform::WriteSome);
}

bool CComm::Recv(unsigned int n, char* data) {
    return internal::ReceiveAll(*m_CancelSem, m_FdIn, n, data, {platform::ReadSome, {}, {}});
}

bool CComm::CancelRecv() {
    m_CancelSem->Raise();
    return true;
}

bool CComm::SetOption(unsigned int level, unsigned int name, unsigned int value) {
    if (!IsConnected())
        m_Options.push_back(CommOption{level, name, value});
    return true;
}

bool CComm::ApplyOptions() {
    return true;
}

} // namespace OrnUtil
