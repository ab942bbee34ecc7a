// A channel's cancel signal together with the receives waiting on it, and what else each channel
// object keeps to itself beside the members its interface lays out.
//
// A receive may be ended from another thread by Disconnect, which closes the signal and the
// descriptors the receive waits on. The gate makes Disconnect wait until the receive has left, so
// that no descriptor is closed (and its number handed to another open) under a waiting thread.
#pragma once

#include <condition_variable>
#include <mutex>

namespace OrnUtil::internal {

class CancelGate {
public:
    CancelGate() = default;
    CancelGate(const CancelGate&) = delete;
    CancelGate& operator=(const CancelGate&) = delete;
    ~CancelGate();

    // A fresh signal with nothing pending, replacing any open one. False when none can be made.
    bool Open();
    // Raises the signal; nothing when it is closed.
    void Raise();
    // Raises the signal until no receive waits on it, then closes it.
    void Close();

    // A copy holds its duplicate of the output from the start and closes it also when it never
    // connects; an original closes the caller's output only once it has connected.
    void HoldOutput() { m_HoldsOutput = true; }
    bool HoldsOutput() const { return m_HoldsOutput; }

    // Held by a receive for as long as it waits on the signal or reads its input, and by a raise
    // while it writes the signal.
    class Pass {
    public:
        explicit Pass(CancelGate& gate);
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;
        ~Pass();
        // The signal to wait on, -1 when the gate is closed.
        int Signal() const { return m_Signal; }

    private:
        CancelGate& m_Gate;
        int m_Signal;
    };

private:
    // Returns once nobody uses the signal; until then every pass finds the gate closed.
    void DrainLocked(std::unique_lock<std::mutex>& lock);

    std::mutex m_Mutex;
    std::condition_variable m_Idle;
    int m_Signal = -1;
    int m_Users = 0;
    bool m_Draining = false;
    bool m_HoldsOutput = false;
};

} // namespace OrnUtil::internal
