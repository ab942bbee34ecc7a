#include "proxy/linux/PacScript.h"

#include "proxy/linux/LibraryPin.h"
#include "proxy/linux/PacHeap.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>

namespace OrnUtil::proxy {

// Each script lives on a thread of its own, joined when the script is destroyed. The interpreter's
// deadline stops script code, but a builtin looping natively (sorting an array of 2^30 holes)
// never reaches that check and can run for minutes; the caller then stops waiting at the bound,
// answers, and abandons the thread, which frees the heap and ends once the builtin returns. Such a
// thread keeps the library loaded, since it still runs the library's code. Few may run at once, so
// a hostile script costs at most a core for that time and never the application's thread. Running
// scripts in-process rather than in a helper process keeps a lookup at a few microseconds.
struct CPacScript::Worker {
    std::mutex lock;
    std::condition_variable wake; // a request, or the end
    std::condition_variable done; // a reply, or the thread's end
    std::atomic<bool> pending{false};
    std::atomic<bool> replied{false};
    bool stop = false;
    bool abandoned = false;
    bool ended = false; // the heap is gone and the thread touches nothing more
    std::thread thread;
    std::string url, host;
    bool ok = false;
    std::string answer, error;
};

namespace {

using Worker = CPacScript::Worker;
using Clock = std::chrono::steady_clock;

// Threads abandoned while a builtin still runs; more are not started while this many remain.
constexpr int MAX_RUNAWAY = 2;
std::atomic<int> runaway{0};

// What the caller allows beyond the script's own bound before it gives up on the thread: the
// interpreter checks its deadline only every few hundred thousand instructions, and a busy machine
// may not run the thread at once. Only a builtin that never returns to the interpreter is cut off
// by this.
constexpr auto GRACE = std::chrono::milliseconds(1000);

// Requests often come in bursts, and a thread woken through the kernel costs more than the lookup:
// each side watches for the other briefly before it sleeps.
constexpr auto SPIN = std::chrono::microseconds(50);

bool Spin(const std::atomic<bool>& flag) {
    const auto until = Clock::now() + SPIN;
    while (!flag.load(std::memory_order_acquire))
        if (Clock::now() >= until)
            return false;
    return true;
}

// Hands the result to the caller; false when the caller has given up on this thread.
bool Reply(Worker& worker, bool ok, std::string answer, std::string error) {
    std::lock_guard<std::mutex> hold(worker.lock);
    if (worker.abandoned)
        return false;
    worker.ok = ok;
    worker.answer = std::move(answer);
    worker.error = std::move(error);
    worker.replied.store(true, std::memory_order_release);
    worker.done.notify_one();
    return true;
}

// Waits for the next request; false when the script is to end.
bool NextRequest(Worker& worker) {
    Spin(worker.pending);
    std::unique_lock<std::mutex> hold(worker.lock);
    worker.wake.wait(hold, [&] { return worker.pending.load() || worker.stop; });
    worker.pending.store(false);
    return !worker.stop;
}

void Serve(std::shared_ptr<Worker> worker, std::string source, PacBounds bounds) {
    {
        CPacHeap heap(bounds.heapBytes, bounds.resolveMs);
        std::string error;
        const bool compiled = heap.Compile(source, bounds.runMs, error);
        source = std::string();
        bool serving = Reply(*worker, compiled, std::string(), error) && compiled;
        while (serving && NextRequest(*worker)) {
            std::string answer;
            error.clear();
            const bool ok = heap.FindProxy(worker->url, worker->host, bounds.runMs, answer, error);
            serving = Reply(*worker, ok, std::move(answer), std::move(error));
        }
    }
    std::lock_guard<std::mutex> hold(worker->lock);
    worker->ended = true;
    if (worker->abandoned)
        runaway.fetch_sub(1);
    worker->done.notify_all();
}

// Called with the worker's lock held, once the thread has missed its bound.
void Abandon(Worker& worker) {
    worker.abandoned = true;
    runaway.fetch_add(1);
    KeepLibraryLoaded();
    worker.thread.detach();
}

// Waits for the reply until the bound; a thread that misses it is abandoned.
bool AwaitReply(Worker& worker, unsigned runMs) {
    if (Spin(worker.replied))
        return true;
    std::unique_lock<std::mutex> hold(worker.lock);
    const auto until = Clock::now() + std::chrono::milliseconds(runMs) + GRACE;
    if (worker.done.wait_until(hold, until, [&] { return worker.replied.load(); }))
        return true;
    Abandon(worker);
    return false;
}

// Stops the thread and joins it. Its heap is destroyed under the script's bound (finalizers are
// script code), so only a builtin stuck in a finalizer makes it miss the bound and be abandoned.
void Retire(Worker& worker, unsigned runMs) {
    std::unique_lock<std::mutex> hold(worker.lock);
    if (worker.abandoned)
        return;
    worker.stop = true;
    worker.wake.notify_one();
    const auto until = Clock::now() + std::chrono::milliseconds(runMs) + GRACE;
    if (!worker.done.wait_until(hold, until, [&] { return worker.ended; })) {
        Abandon(worker);
        return;
    }
    hold.unlock();
    worker.thread.join();
}

const char* const OVERRUN = "the script did not stop within its bound";

} // namespace

std::unique_ptr<CPacScript> CPacScript::Compile(const std::string& source, const PacBounds& bounds,
                                                std::string& error) {
    if (runaway.load() >= MAX_RUNAWAY) {
        error = "earlier scripts that overran their bound are still being stopped";
        return nullptr;
    }
    auto worker = std::make_shared<Worker>();
    worker->thread = std::thread(Serve, worker, source, bounds);
    if (!AwaitReply(*worker, bounds.runMs)) {
        error = OVERRUN;
        return nullptr;
    }
    if (!worker->ok) {
        error = worker->error;
        Retire(*worker, bounds.runMs);
        return nullptr;
    }
    worker->replied.store(false);
    return std::unique_ptr<CPacScript>(new CPacScript(std::move(worker), bounds.runMs));
}

CPacScript::CPacScript(std::shared_ptr<Worker> worker, unsigned runMs)
    : m_Worker(std::move(worker)), m_RunMs(runMs) {}

CPacScript::~CPacScript() {
    Retire(*m_Worker, m_RunMs);
}

bool CPacScript::FindProxy(const std::string& url, const std::string& host, std::string& answer,
                           std::string& error) {
    std::lock_guard<std::mutex> callers(m_Callers);
    if (m_Abandoned) {
        error = OVERRUN;
        return false;
    }
    // The interpreter cannot report running out of heap while it takes the arguments in.
    if (url.size() + host.size() > PacBounds::REQUEST_BYTES) {
        error = "the URL is too long to be given to the script";
        return false;
    }
    Worker& worker = *m_Worker;
    {
        std::lock_guard<std::mutex> hold(worker.lock);
        worker.url = url;
        worker.host = host;
        worker.replied.store(false);
        worker.pending.store(true, std::memory_order_release);
        worker.wake.notify_one();
    }
    if (!AwaitReply(worker, m_RunMs)) {
        m_Abandoned = true;
        error = OVERRUN;
        return false;
    }
    std::lock_guard<std::mutex> hold(worker.lock);
    if (worker.ok)
        answer = worker.answer;
    else
        error = worker.error;
    return worker.ok;
}

} // namespace OrnUtil::proxy
