// Framed round trips between two processes (this one and a forked echo peer), over a pipe pair
// and over TCP loopback, through the library's channels and adapters beside a raw loop of the
// same system calls.
#include <OrnUtils.h>
#include <algorithm>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
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

// A round trip waits on the scheduler twice, so on a shared machine single runs vary widely: each
// benchmark runs several times and reports the median and the fastest run (the cost of the work
// itself, with the least waiting for other processes).
constexpr int REPETITIONS = 7;

double Fastest(const std::vector<double>& runs) {
    return *std::min_element(runs.begin(), runs.end());
}

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

void Repeated(benchmark::internal::Benchmark* benchmark) {
    benchmark->UseRealTime()
        ->Repetitions(REPETITIONS)
        ->ComputeStatistics("min", Fastest)
        ->ReportAggregatesOnly(true);
}

BENCHMARK(PipeBaseline)->Name("FramedRoundTripPipe64/baseline")->Arg(64)->Apply(Repeated);
BENCHMARK(PipeLibrary)->Name("FramedRoundTripPipe64/library")->Arg(64)->Apply(Repeated);
BENCHMARK(PipeBaseline)->Name("FramedRoundTripPipe4K/baseline")->Arg(4096)->Apply(Repeated);
BENCHMARK(PipeLibrary)->Name("FramedRoundTripPipe4K/library")->Arg(4096)->Apply(Repeated);
BENCHMARK(TcpBaseline)->Name("FramedRoundTripTCP64/baseline")->Arg(64)->Apply(Repeated);
BENCHMARK(TcpLibrary)->Name("FramedRoundTripTCP64/library")->Arg(64)->Apply(Repeated);
BENCHMARK(TcpBaseline)->Name("FramedRoundTripTCP4K/baseline")->Arg(4096)->Apply(Repeated);
BENCHMARK(TcpLibrary)->Name("FramedRoundTripTCP4K/library")->Arg(4096)->Apply(Repeated);

} // namespace
