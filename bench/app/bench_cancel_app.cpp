// The latency of a cancelled receive: from CancelRecv in one thread to the return of the Recv
// blocked in another, beside a raw eventfd raised in one thread and polled in another. Each run
// reports the median latency as "median_us". (A program of its own: the CSV report needs every
// benchmark of a program to carry the same counters.)
#include <OrnUtils.h>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Waits until the thread sleeps in poll, so that each measurement starts from a blocked wait.
void WaitUntilPolling(pid_t thread) {
    const std::string task = "/proc/self/task/" + std::to_string(thread);
    for (;;) {
        std::ifstream call(task + "/syscall");
        long number = -1;
        call >> number;
        std::ifstream stat(task + "/stat");
        const std::string text((std::istreambuf_iterator<char>(stat)),
                               std::istreambuf_iterator<char>());
        const size_t end = text.rfind(')');
        const bool sleeping =
            end != std::string::npos && end + 2 < text.size() && text[end + 2] == 'S';
#ifdef SYS_poll
        if (sleeping && (number == SYS_poll || number == SYS_ppoll))
            return;
#else
        if (sleeping && number == SYS_ppoll)
            return;
#endif
        std::this_thread::yield();
    }
}

// A thread that waits over and over; each wake-up publishes the time it woke.
class Waiter {
public:
    template <typename Wait>
    explicit Waiter(Wait wait)
        : m_Thread([this, wait] {
              m_Tid = static_cast<pid_t>(syscall(SYS_gettid));
              while (!m_Stop.load()) {
                  wait();
                  m_Woke.store(Clock::now().time_since_epoch().count());
                  m_Wakes.fetch_add(1);
              }
          }) {}
    ~Waiter() { m_Thread.join(); }

    // Raises through `raise` once the thread waits; the latency of its wake-up in seconds.
    template <typename Raise>
    double Measure(Raise raise) {
        while (m_Tid.load() == 0)
            std::this_thread::yield();
        WaitUntilPolling(m_Tid.load());
        const int64_t wakes = m_Wakes.load();
        const auto raised = Clock::now().time_since_epoch().count();
        raise();
        while (m_Wakes.load() == wakes)
            std::this_thread::yield();
        return std::chrono::duration<double>(Clock::duration(m_Woke.load() - raised)).count();
    }
    template <typename Raise>
    void Stop(Raise raise) {
        m_Stop = true;
        raise();
    }

private:
    std::atomic<pid_t> m_Tid{0};
    std::atomic<bool> m_Stop{false};
    std::atomic<int64_t> m_Woke{0};
    std::atomic<int64_t> m_Wakes{0};
    std::thread m_Thread;
};

void ReportMedian(benchmark::State& state, std::vector<double>& latencies) {
    if (latencies.empty())
        return;
    std::nth_element(latencies.begin(), latencies.begin() + latencies.size() / 2, latencies.end());
    state.counters["median_us"] = latencies[latencies.size() / 2] * 1e6;
}

// Times one raise per iteration, then lets the waiter go.
template <typename Raise>
void MeasureEach(benchmark::State& state, Waiter& waiter, Raise raise) {
    std::vector<double> latencies;
    for (auto _ : state) {
        latencies.push_back(waiter.Measure(raise));
        state.SetIterationTime(latencies.back());
    }
    waiter.Stop(raise);
    ReportMedian(state, latencies);
}

void CancelBaseline(benchmark::State& state) {
    const int signal = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    Waiter waiter([signal] {
        pollfd watched{signal, POLLIN, 0};
        poll(&watched, 1, -1);
        uint64_t count;
        if (read(signal, &count, sizeof count) < 0) {
        }
    });
    auto raise = [signal] {
        const uint64_t one = 1;
        if (write(signal, &one, sizeof one) < 0) {
        }
    };
    MeasureEach(state, waiter, raise);
    close(signal);
}
BENCHMARK(CancelBaseline)->Name("CancelLatency/baseline")->UseManualTime();

void CancelLibrary(benchmark::State& state) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        std::abort();
    OrnUtil::CCommFd channel(fds[0], fds[1]);
    channel.Connect();
    {
        Waiter waiter([&channel] {
            char byte;
            channel.Recv(1, &byte);
        });
        MeasureEach(state, waiter, [&channel] { channel.CancelRecv(); });
    }
    close(fds[0]);
}
BENCHMARK(CancelLibrary)->Name("CancelLatency/library")->UseManualTime();

} // namespace
