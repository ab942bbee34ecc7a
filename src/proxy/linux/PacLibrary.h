// The functions a PAC script may call: the standard helpers and their IPv6 (Ex) variants.
#pragma once

#include "platform/Clock.h"

#include <cstdint>
#include <duktape.h>

namespace OrnUtil::proxy {

// The time a script may still take, shared with its helpers: a DNS helper waits at most the
// resolve bound, and never past the script's own deadline.
struct PacTimer {
    unsigned resolveMs = 0;
    uint64_t deadlineMs = 0; // on the monotonic clock; 0 while no script code runs

    bool Expired() const { return deadlineMs != 0 && platform::MonotonicMs() >= deadlineMs; }
    unsigned ResolveBudgetMs() const;
};

// Defines the helpers in the context's global object. Those that need the system (DNS, this
// host's addresses) are native and bounded by `timer`, which must outlive the context; the rest
// are script.
void DefinePacLibrary(duk_context* context, const PacTimer* timer);

} // namespace OrnUtil::proxy
