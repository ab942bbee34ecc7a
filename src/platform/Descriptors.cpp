#include "platform/Descriptors.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace OrnUtil::platform {

namespace {

bool SigpipePending() {
    sigset_t pending;
    sigemptyset(&pending);
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

} // namespace

ssize_t ReadSome(int fd, void* data, size_t size) {
    return read(fd, data, size);
}

ssize_t WritePlain(int fd, const void* data, size_t size) {
    return write(fd, data, size);
}

// A write to a reader that has gone raises SIGPIPE at the writing thread, whose default action
// ends the process; the channel must report a failure instead. Blocking the signal for the
// thread around the write and taking the one the write raised leaves the application's own
// signal state as it was.
ssize_t WriteSome(int fd, const void* data, size_t size) {
    sigset_t sigpipe;
    sigemptyset(&sigpipe);
    sigaddset(&sigpipe, SIGPIPE);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &sigpipe, &previous);
    const bool blockedBefore = sigismember(&previous, SIGPIPE) == 1;
    // A SIGPIPE can only wait for delivery while the thread blocks it; that one is not ours.
    const bool pendingBefore = blockedBefore && SigpipePending();

    const ssize_t written = write(fd, data, size);
    const int error = errno;
    if (written < 0 && error == EPIPE && !pendingBefore) {
        const timespec now{};
        while (sigtimedwait(&sigpipe, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    if (!blockedBefore)
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return written;
}

bool WriteAll(int fd, const char* data, size_t size,
              ssize_t (*writeSome)(int, const void*, size_t)) {
    size_t sent = 0;
    while (sent < size) {
        const ssize_t count = writeSome(fd, data + sent, size - sent);
        // A signal handler interrupted the write before anything went out: nothing failed.
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            if (count == 0)
                errno = 0;
            return false;
        }
        sent += static_cast<size_t>(count);
    }
    return true;
}

int DuplicateDescriptor(int fd) {
    return fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

void CloseDescriptor(int fd) {
    if (fd >= 0)
        close(fd);
}

} // namespace OrnUtil::platform
