#include "platform/CancelSignal.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace OrnUtil::platform {

int CreateCancelSignal() {
    return eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

void RaiseCancelSignal(int signal) {
    const uint64_t one = 1;
    // The counter cannot overflow in practice; a failed raise has nobody to tell.
    while (write(signal, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void CloseCancelSignal(int signal) {
    close(signal);
}

Wake WaitSignalOrInput(int signal, int input) {
    pollfd watched[2] = {{signal, POLLIN, 0}, {input, POLLIN, 0}};
    for (;;) {
        if (poll(watched, 2, -1) >= 0)
            break;
        // A signal handler's interruption is not a failure of the wait: the receive goes on
        // waiting for its input or its cancel.
        if (errno != EINTR)
            return Wake::Failed;
    }
    if (watched[0].revents != 0) {
        // Reading resets the counter: every raise made so far is consumed at once.
        uint64_t raised = 0;
        while (read(signal, &raised, sizeof raised) < 0 && errno == EINTR) {
        }
        return Wake::Cancelled;
    }
    if ((watched[1].revents & POLLNVAL) != 0) {
        errno = EBADF;
        return Wake::Invalid;
    }
    return Wake::Ready;
}

} // namespace OrnUtil::platform
