#include "comm/CancelGate.h"

#include "platform/CancelSignal.h"

namespace OrnUtil::internal {

CancelGate::~CancelGate() {
    Close();
}

bool CancelGate::Open() {
    std::unique_lock<std::mutex> lock(m_Mutex);
    if (m_Signal >= 0) {
        DrainLocked(lock);
        platform::CloseCancelSignal(m_Signal);
    }
    m_Signal = platform::CreateCancelSignal();
    return m_Signal >= 0;
}

void CancelGate::Raise() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_Signal >= 0)
        platform::RaiseCancelSignal(m_Signal);
}

void CancelGate::Close() {
    std::unique_lock<std::mutex> lock(m_Mutex);
    if (m_Signal < 0)
        return;
    DrainLocked(lock);
    platform::CloseCancelSignal(m_Signal);
    m_Signal = -1;
}

void CancelGate::DrainLocked(std::unique_lock<std::mutex>& lock) {
    // Each raise ends one waiting receive; receives that finish with their data leave it pending.
    while (m_Signal >= 0 && m_Waiting > 0) {
        const int waiting = m_Waiting;
        platform::RaiseCancelSignal(m_Signal);
        m_Idle.wait(lock, [this, waiting] { return m_Waiting < waiting; });
    }
}

CancelGate::Pass::Pass(CancelGate& gate) : m_Gate(gate) {
    std::lock_guard<std::mutex> lock(m_Gate.m_Mutex);
    m_Signal = m_Gate.m_Signal;
    if (m_Signal >= 0)
        ++m_Gate.m_Waiting;
}

CancelGate::Pass::~Pass() {
    if (m_Signal < 0)
        return;
    std::lock_guard<std::mutex> lock(m_Gate.m_Mutex);
    --m_Gate.m_Waiting;
    m_Gate.m_Idle.notify_all();
}

} // namespace OrnUtil::internal
