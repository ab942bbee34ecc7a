// The receive that every channel runs: wait for the input or the cancel signal, read what is
// there, and go on until the count is complete.
#pragma once

#include "comm/CancelGate.h"
#include "platform/CancelSignal.h"

#include <functional>
#include <sys/types.h>

namespace OrnUtil::internal {

// How a channel reads its input, and what it hears of each step; an empty callback hears nothing.
struct ReceiveSteps {
    // One read of at most `size` bytes: the bytes read, 0 at the end of input, -1 with errno.
    ssize_t (*readSome)(int fd, void* data, size_t size);
    // The wait ended without input; errno tells why. An input that is none counts as Invalid.
    std::function<void(platform::Wake)> stopped;
    // One read brought that many bytes.
    std::function<void(ssize_t)> received;
};

// Fills the `n` bytes at `data` from `input`. True once they are all there, at once for n = 0;
// false when the gate is closed, the signal raised, the input at its end or failing. The bytes
// read so far stay in place. `input` is read only while the receive holds its pass: Disconnect
// changes it only once every pass has gone.
bool ReceiveAll(CancelGate& gate, const unsigned int& input, unsigned int n, char* data,
                const ReceiveSteps& steps);

} // namespace OrnUtil::internal
