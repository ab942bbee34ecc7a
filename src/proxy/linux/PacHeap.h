// One PAC script in its own interpreter heap, with the bounds the interpreter itself can enforce:
// a deadline checked as the script runs, a cap on its allocations, bounded DNS helpers.
#pragma once

#include "proxy/linux/PacLibrary.h"

#include <cstddef>
#include <string>

namespace OrnUtil::proxy {

class CPacHeap {
public:
    CPacHeap(size_t capBytes, unsigned resolveMs);
    ~CPacHeap();
    CPacHeap(const CPacHeap&) = delete;
    CPacHeap& operator=(const CPacHeap&) = delete;

    // Runs the script's top level; false with the reason when it does not compile, throws, runs
    // past `runMs` or defines no FindProxyForURL.
    bool Compile(const std::string& source, unsigned runMs, std::string& error);
    // FindProxyForURLEx where defined, else FindProxyForURL; false with the reason when it throws,
    // returns no string or runs past `runMs`.
    bool FindProxy(const std::string& url, const std::string& host, unsigned runMs,
                   std::string& answer, std::string& error);

    // For the allocator and the interpreter's hooks (PacHeap.cpp).
    struct State {
        size_t used = 0;
        size_t cap = 0;
        // Set by the first refused allocation of a call and kept until the next one: near its cap
        // the interpreter would otherwise collect garbage and retry on every allocation.
        bool exhausted = false;
        bool broken = false; // after a fatal interpreter error the heap is given up, not touched
        PacTimer timer;
    };

private:
    void Start(unsigned runMs);
    State m_State;
    duk_context* m_Context = nullptr;
    unsigned m_RunMs = 0; // the bound of the last call, which destroying the heap keeps too
};

} // namespace OrnUtil::proxy
