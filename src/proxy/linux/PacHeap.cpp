#include "proxy/linux/PacHeap.h"

#include <algorithm>
#include <cstdlib>

namespace OrnUtil::proxy {

namespace {

using State = CPacHeap::State;

// Allocations carry their size in front, so that the heap's total can be kept within its cap.
constexpr size_t HEADER = alignof(std::max_align_t);

size_t& SizeOf(void* block) {
    return *static_cast<size_t*>(block);
}

bool Refuse(State& state) {
    state.exhausted = true;
    return false;
}

bool Admit(State& state, size_t growth) {
    return !state.exhausted && growth <= state.cap - state.used ? true : Refuse(state);
}

void* Allocate(void* data, duk_size_t size) {
    auto& state = *static_cast<State*>(data);
    if (!Admit(state, size))
        return nullptr;
    void* block = std::malloc(size + HEADER);
    if (block == nullptr)
        return nullptr;
    SizeOf(block) = size;
    state.used += size;
    return static_cast<char*>(block) + HEADER;
}

void Release(void* data, void* pointer) {
    if (pointer == nullptr)
        return;
    void* block = static_cast<char*>(pointer) - HEADER;
    static_cast<State*>(data)->used -= SizeOf(block);
    std::free(block);
}

void* Reallocate(void* data, void* pointer, duk_size_t size) {
    if (pointer == nullptr)
        return Allocate(data, size);
    if (size == 0) {
        Release(data, pointer);
        return nullptr;
    }
    auto& state = *static_cast<State*>(data);
    void* block = static_cast<char*>(pointer) - HEADER;
    const size_t old = SizeOf(block);
    if (size > old && !Admit(state, size - old))
        return nullptr;
    void* moved = std::realloc(block, size + HEADER);
    if (moved == nullptr)
        return nullptr;
    SizeOf(moved) = size;
    state.used = state.used - old + size;
    return static_cast<char*>(moved) + HEADER;
}

struct FatalError {};

// The interpreter calls this for errors it cannot recover from; the heap is unusable afterwards.
[[noreturn]] void Fatal(void* data, const char*) {
    static_cast<State*>(data)->broken = true;
    throw FatalError();
}

const char* const BROKEN = "the script broke the interpreter";

// Runs under duk_safe_call: [url host] -> [answer].
duk_ret_t CallFindProxy(duk_context* context, void*) {
    const bool extended =
        duk_get_global_string(context, "FindProxyForURLEx") && duk_is_function(context, -1);
    if (!extended) {
        duk_pop(context);
        duk_get_global_string(context, "FindProxyForURL");
    }
    duk_dup(context, 0);
    duk_dup(context, 1);
    duk_call(context, 2);
    return 1;
}

} // namespace

CPacHeap::CPacHeap(size_t capBytes, unsigned resolveMs) {
    m_State.cap = capBytes;
    m_State.timer.resolveMs = resolveMs;
    m_Context = duk_create_heap(Allocate, Reallocate, Release, &m_State, Fatal);
}

CPacHeap::~CPacHeap() {
    // A broken heap's structures cannot be trusted to be walked; its memory is given up instead.
    if (m_Context == nullptr || m_State.broken)
        return;
    // Destroying the heap runs the script's finalizers, under the bound of a call.
    Start(m_RunMs);
    duk_destroy_heap(m_Context);
}

void CPacHeap::Start(unsigned runMs) {
    m_RunMs = runMs;
    m_State.timer.deadlineMs = platform::MonotonicMs() + std::max(1u, runMs);
    m_State.exhausted = false;
}

bool CPacHeap::Compile(const std::string& source, unsigned runMs, std::string& error) {
    if (m_Context == nullptr) {
        error = "cannot create the script's heap";
        return false;
    }
    Start(runMs);
    bool compiled = false;
    try {
        DefinePacLibrary(m_Context, &m_State.timer);
        compiled = duk_peval_lstring(m_Context, source.data(), source.size()) == 0;
        if (!compiled)
            error = duk_safe_to_string(m_Context, -1);
        duk_pop(m_Context);
        if (compiled) {
            const bool defined = duk_get_global_string(m_Context, "FindProxyForURL");
            compiled = defined && duk_is_function(m_Context, -1);
            if (!compiled)
                error = defined ? "FindProxyForURL is not a function"
                                : "the script defines no FindProxyForURL";
            duk_pop(m_Context);
        }
    } catch (...) {
        // An error that reached no protected call ends in Fatal; either way the heap is lost.
        m_State.broken = true;
        error = BROKEN;
        compiled = false;
    }
    m_State.timer.deadlineMs = 0;
    return compiled;
}

bool CPacHeap::FindProxy(const std::string& url, const std::string& host, unsigned runMs,
                         std::string& answer, std::string& error) {
    if (m_State.broken || m_Context == nullptr) {
        error = BROKEN;
        return false;
    }
    Start(runMs);
    const duk_idx_t top = duk_get_top(m_Context);
    bool found = false;
    try {
        duk_push_lstring(m_Context, url.data(), url.size());
        duk_push_lstring(m_Context, host.data(), host.size());
        if (duk_safe_call(m_Context, CallFindProxy, nullptr, 2, 1) != DUK_EXEC_SUCCESS) {
            error = duk_safe_to_string(m_Context, -1);
        } else if (!duk_is_string(m_Context, -1)) {
            error = "FindProxyForURL returned no string";
        } else {
            duk_size_t size = 0;
            const char* text = duk_get_lstring(m_Context, -1, &size);
            answer.assign(text, size);
            found = true;
        }
        duk_set_top(m_Context, top);
    } catch (...) {
        m_State.broken = true;
        error = BROKEN;
    }
    m_State.timer.deadlineMs = 0;
    return found;
}

} // namespace OrnUtil::proxy

// The interpreter asks this every few hundred thousand instructions; true ends the script with a
// RangeError that no catch in the script can keep.
extern "C" int OrnPacTimedOut(void* heapData) {
    return static_cast<OrnUtil::proxy::CPacHeap::State*>(heapData)->timer.Expired() ? 1 : 0;
}
