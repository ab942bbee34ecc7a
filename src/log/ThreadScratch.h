// Per-thread working objects for the logger, safe for log statements that run in a thread's exit
// destructors after the thread's own copy is gone.
#pragma once

namespace OrnUtil::internal {

// Trivially destructible, so still readable once the thread's objects are destroyed.
template <typename T>
bool& ThreadScratchGone() {
    thread_local bool gone = false;
    return gone;
}

// The calling thread's T, made on first use; null once it has been destroyed at thread exit.
template <typename T>
T* ThreadScratch() {
    if (ThreadScratchGone<T>())
        return nullptr;
    struct Holder {
        T value;
        ~Holder() { ThreadScratchGone<T>() = true; }
    };
    thread_local Holder holder;
    return &holder.value;
}

} // namespace OrnUtil::internal
