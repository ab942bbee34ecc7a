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

// The write happens outside the lock: a receive woken by it goes straight on to leave the gate
// instead of waiting for the raising thread to let go of the lock.
void CancelGate::Raise() {
    Pass pass(*this);
    if (pass.Signal() >= 0)
        platform::RaiseCancelSignal(pass.Signal());
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
    // Each raise ends one waiting receive; a receive that finishes with its data, or a raise that
    // leaves, leaves a raise pending, which is harmless on a signal about to close. Nobody may
    // come in meanwhile: a receive that a raise ended may go straight on to the next (a framed
    // receive draining its payload does), and would wait on a raise already consumed.
    m_Draining = true;
    while (m_Signal >= 0 && m_Users > 0) {
        const int users = m_Users;
        platform::RaiseCancelSignal(m_Signal);
        m_Idle.wait(lock, [this, users] { return m_Users < users; });
    }
    m_Draining = false;
}

CancelGate::Pass::Pass(CancelGate& gate) : m_Gate(gate) {
    std::lock_guard<std::mutex> lock(m_Gate.m_Mutex);
    m_Signal = m_Gate.m_Draining ? -1 : m_Gate.m_Signal;
    if (m_Signal >= 0)
        ++m_Gate.m_Users;
}

CancelGate::Pass::~Pass() {
    if (m_Signal < 0)
        return;
    std::lock_guard<std::mutex> lock(m_Gate.m_Mutex);
    --m_Gate.m_Users;
    m_Gate.m_Idle.notify_all();
}

} // namespace OrnUtil::internal
