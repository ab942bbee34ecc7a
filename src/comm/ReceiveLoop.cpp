#include "comm/ReceiveLoop.h"

#include "comm/Descriptor.h"

#include <OrnUtil/Comm.h>
#include <cerrno>

namespace OrnUtil::internal {

namespace {

bool Stop(const ReceiveSteps& steps, platform::Wake wake) {
    if (steps.stopped)
        steps.stopped(wake);
    return false;
}

} // namespace

bool ReceiveAll(CancelGate& gate, const unsigned int& input, unsigned int n, char* data,
                const ReceiveSteps& steps) {
    if (n == 0)
        return true;
    CancelGate::Pass pass(gate);
    if (pass.Signal() < 0)
        return false;
    unsigned int received = 0;
    while (received < n) {
        // Without an input there is nothing to wait for; poll would report it as POLLNVAL.
        if (input == CComm::NONE) {
            errno = EBADF;
            return Stop(steps, platform::Wake::Invalid);
        }
        const platform::Wake wake = platform::WaitSignalOrInput(pass.Signal(), AsFd(input));
        if (wake != platform::Wake::Ready)
            return Stop(steps, wake);
        const ssize_t got = steps.readSome(AsFd(input), data + received, n - received);
        if (got <= 0)
            return false;
        received += static_cast<unsigned int>(got);
        if (steps.received)
            steps.received(got);
    }
    return true;
}

} // namespace OrnUtil::internal
