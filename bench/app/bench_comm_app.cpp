// Framed round trips between two processes (this one and a forked echo peer), over a pipe pair
// and over TCP loopback, through the library's channels and adapters beside a raw loop of the
// same system calls; and the latency of a cancelled receive beside a raw eventfd wake-up.
#include <OrnUtils.h>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// ---- The raw loop: write the length, write the payload; poll and read each of them back.

bool RawSend(int fd, bool socket, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t done = socket ? send(fd, data, size, MSG_NOSIGNAL) : write(fd, data, size);
        if (done <= 0)
            return false;
        data += done;
        size -= static_cast<size_t>(done);
    }
    return true;
}

bool RawRecv(int fd, char* data, size_t size) {
    while (size > 0) {
        pollfd input{fd, POLLIN, 0};
        if (poll(&input, 1, -1) < 0)
            return false;
        const ssize_t got = read(fd, data, size);
        if (got <= 0)
            return false;
        data += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

bool RawSendFrame(int fd, bool socket, const char* payload, uint32_t length) {
    return RawSend(fd, socket, reinterpret_cast<const char*>(&length), 4) &&
           RawSend(fd, socket, payload, length);
}

bool RawRecvFrame(int fd, std::vector<char>& payload) {
    uint32_t length;
    if (!RawRecv(fd, reinterpret_cast<char*>(&length), 4))
        return false;
    payload.resize(length);
    return RawRecv(fd, payload.data(), length);
}

void RawEcho(int in, int out, bool socket) {
    std::vector<char> payload;
    while (RawRecvFrame(in, payload) &&
           RawSendFrame(out, socket, payload.data(), static_cast<uint32_t>(payload.size()))) {
    }
}

// ---- The library: a channel with its two adapters.

struct Framed {
    std::shared_ptr<OrnUtil::CComm> channel;
    CCommBufBinIn in;
    CCommBufBinOut out;
    explicit Framed(std::shared_ptr<OrnUtil::CComm> comm)
        : channel(std::move(comm)), in(channel), out(channel) {
        channel->Connect();
    }
};

std::shared_ptr<OrnUtil::CComm> Channel(int in, int out, bool socket) {
    if (socket)
        return std::make_shared<OrnUtil::CCommTCP>(static_cast<unsigned int>(in));
    return std::make_shared<OrnUtil::CCommFd>(in, out);
}

void LibraryEcho(int in, int out, bool socket) {
    Framed peer(Channel(in, out, socket));
    while (peer.in.Recv()) {
        peer.out.PutN(peer.in.ReadPtr(), peer.in.OutAvail() - 1);
        if (!peer.out.Send())
            break;
    }
}

// ---- The echo peer: a forked process on a pipe pair or a loopback TCP connection.

struct Peer {
    pid_t pid = -1;
    int in = -1, out = -1; // this process's ends
};

using Echo = void (*)(int in, int out, bool socket);

Peer StartPipePeer(Echo echo) {
    int toPeer[2], fromPeer[2];
    if (pipe2(toPeer, O_CLOEXEC) != 0 || pipe2(fromPeer, O_CLOEXEC) != 0)
        std::abort();
    Peer peer;
    peer.pid = fork();
    if (peer.pid == 0) {
        close(toPeer[1]);
        close(fromPeer[0]);
        echo(toPeer[0], fromPeer[1], false);
        _exit(0);
    }
    close(toPeer[0]);
    close(fromPeer[1]);
    peer.in = fromPeer[0];
    peer.out = toPeer[1];
    return peer;
}

void NoDelay(int socket) {
    const int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

Peer StartTcpPeer(Echo echo, bool libraryHere) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        std::abort();
    Peer peer;
    peer.pid = fork();
    if (peer.pid == 0) {
        close(listener);
        const int connection = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (connect(connection, reinterpret_cast<sockaddr*>(&address), length) != 0)
            _exit(1);
        if (!libraryHere)
            NoDelay(connection);
        echo(connection, connection, true);
        _exit(0);
    }
    peer.in = peer.out = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    close(listener);
    if (!libraryHere)
        NoDelay(peer.in);
    return peer;
}

void StopPeer(const Peer& peer) {
    int status;
    waitpid(peer.pid, &status, 0);
}

// ---- The benchmarks.

// A round trip waits on the scheduler twice; on a shared machine single runs vary, the median of
// several does not.
constexpr int REPETITIONS = 5;

void RoundTripBaseline(benchmark::State& state, bool tcp) {
    const auto size = static_cast<uint32_t>(state.range(0));
    const Peer peer = tcp ? StartTcpPeer(RawEcho, false) : StartPipePeer(RawEcho);
    const std::vector<char> message(size, 'm');
    std::vector<char> answer;
    for (auto _ : state) {
        if (!RawSendFrame(peer.out, tcp, message.data(), size) || !RawRecvFrame(peer.in, answer))
            state.SkipWithError("the raw exchange failed");
    }
    if (tcp) {
        shutdown(peer.out, SHUT_RDWR);
        close(peer.out);
    } else {
        close(peer.out);
        close(peer.in);
    }
    StopPeer(peer);
}

void RoundTripLibrary(benchmark::State& state, bool tcp) {
    const auto size = static_cast<int32_t>(state.range(0));
    const Peer peer = tcp ? StartTcpPeer(LibraryEcho, true) : StartPipePeer(LibraryEcho);
    const std::vector<char> message(static_cast<size_t>(size), 'm');
    {
        Framed here(Channel(peer.in, peer.out, tcp));
        for (auto _ : state) {
            here.out.PutN(message.data(), size);
            if (!here.out.Send() || !here.in.Recv())
                state.SkipWithError("the framed exchange failed");
        }
    } // the channel disconnects and closes its output; the peer sees the end
    if (!tcp)
        close(peer.in);
    StopPeer(peer);
}

void PipeBaseline(benchmark::State& state) {
    RoundTripBaseline(state, false);
}
void PipeLibrary(benchmark::State& state) {
    RoundTripLibrary(state, false);
}
void TcpBaseline(benchmark::State& state) {
    RoundTripBaseline(state, true);
}
void TcpLibrary(benchmark::State& state) {
    RoundTripLibrary(state, true);
}

BENCHMARK(PipeBaseline)
    ->Name("FramedRoundTripPipe64/baseline")
    ->Arg(64)
    ->UseRealTime()
    ->Repetitions(REPETITIONS)
    ->ReportAggregatesOnly(true);
BENCHMARK(PipeLibrary)
    ->Name("FramedRoundTripPipe64/library")
    ->Arg(64)
    ->UseRealTime()
    ->Repetitions(REPETITIONS)
    ->ReportAggregatesOnly(true);
BENCHMARK(PipeBaseline)
    ->Name("FramedRoundTripPipe4K/baseline")
    ->Arg(4096)
    ->UseRealTime()
    ->Repetitions(REPETITIONS)
    ->ReportAggregatesOnly(true);
BENCHMARK(PipeLibrary)
    ->Name("FramedRoundTripPipe4K/library")
    ->Arg(4096)
    ->UseRealTime()
    ->Repetitions(REPETITIONS)
    ->ReportAggregatesOnly(true);
BENCHMARK(TcpBaseline)
    ->Name("FramedRoundTripTCP64/baseline")
    ->Arg(64)
    ->UseRealTime()
    ->Repetitions(REPETITIONS)
    ->ReportAggregatesOnly(true);
BENCHMARK(TcpLibrary)
    ->Name("FramedRoundTripTCP64/library")
    ->Arg(64)
    ->UseRealTime()
    ->Repetitions(REPETITIONS)
    ->ReportAggregatesOnly(true);
BENCHMARK(TcpBaseline)
    ->Name("FramedRoundTripTCP4K/baseline")
    ->Arg(4096)
    ->UseRealTime()
    ->Repetitions(REPETITIONS)
    ->ReportAggregatesOnly(true);
BENCHMARK(TcpLibrary)
    ->Name("FramedRoundTripTCP4K/library")
    ->Arg(4096)
    ->UseRealTime()
    ->Repetitions(REPETITIONS)
    ->ReportAggregatesOnly(true);

// ---- Cancel latency: from the raise in one thread to the return of the receive in another.

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
    std::vector<double> latencies;
    for (auto _ : state) {
        latencies.push_back(waiter.Measure(raise));
        state.SetIterationTime(latencies.back());
    }
    waiter.Stop(raise);
    ReportMedian(state, latencies);
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
        auto raise = [&channel] { channel.CancelRecv(); };
        std::vector<double> latencies;
        for (auto _ : state) {
            latencies.push_back(waiter.Measure(raise));
            state.SetIterationTime(latencies.back());
        }
        waiter.Stop(raise);
        ReportMedian(state, latencies);
    }
    close(fds[0]);
}
BENCHMARK(CancelLibrary)->Name("CancelLatency/library")->UseManualTime();

} // namespace
