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

// The thread's block of SIGPIPE: made by its first WriteSome, undone after the write or, within
// holds, when the outermost ends.
struct SigpipeBlock {
    int holds = 0;
    bool active = false;
    bool blockedBefore = false;
    bool pendingBefore = false; // a SIGPIPE of the application's own, waiting while it blocks it
    sigset_t previous;
};

thread_local SigpipeBlock block;

sigset_t SigpipeSet() {
    sigset_t sigpipe;
    sigemptyset(&sigpipe);
    sigaddset(&sigpipe, SIGPIPE);
    return sigpipe;
}

void BeginBlock() {
    if (block.active)
        return;
    const sigset_t sigpipe = SigpipeSet();
    pthread_sigmask(SIG_BLOCK, &sigpipe, &block.previous);
    block.blockedBefore = sigismember(&block.previous, SIGPIPE) == 1;
    block.pendingBefore = block.blockedBefore && SigpipePending();
    block.active = true;
}

void EndBlock() {
    if (block.holds != 0 || !block.active)
        return;
    block.active = false;
    if (!block.blockedBefore)
        pthread_sigmask(SIG_SETMASK, &block.previous, nullptr);
}

} // namespace

ssize_t ReadSome(int fd, void* data, size_t size) {
    return read(fd, data, size);
}

ssize_t WritePlain(int fd, const void* data, size_t size) {
    return write(fd, data, size);
}

SigpipeHold::SigpipeHold() {
    ++block.holds;
}

SigpipeHold::~SigpipeHold() {
    --block.holds;
    EndBlock();
}

// A write to a reader that has gone raises SIGPIPE at the writing thread, whose default action
// ends the process; the channel must report a failure instead. Blocking the signal for the
// thread around the write and taking the one the write raised leaves the application's own
// signal state as it was.
ssize_t WriteSome(int fd, const void* data, size_t size) {
    BeginBlock();
    const ssize_t written = write(fd, data, size);
    const int error = errno;
    if (written < 0 && error == EPIPE && !block.pendingBefore) {
        const sigset_t sigpipe = SigpipeSet();
        const timespec now{};
        while (sigtimedwait(&sigpipe, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    EndBlock();
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
