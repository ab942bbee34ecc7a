#include "platform/Thread.h"

#include <pthread.h>
#include <unistd.h>

namespace OrnUtil::platform {

namespace {

// gettid is a system call; each thread asks once. A forked child's thread has a new identifier,
// so the fork handler forgets the one the parent's thread cached.
thread_local uint32_t cachedId = 0;

void ForgetIdInChild() {
    cachedId = 0;
}

const int registered = pthread_atfork(nullptr, nullptr, ForgetIdInChild);

} // namespace

uint32_t CurrentThreadId() {
    (void)registered;
    if (cachedId == 0)
        cachedId = static_cast<uint32_t>(gettid());
    return cachedId;
}

} // namespace OrnUtil::platform
