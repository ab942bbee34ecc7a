// Byte buffers, descriptor and TCP channels, and framed messages, on real pipes, socket pairs, a
// loopback listener and a second process.
#include "LoopbackServers.h"
#include "TestSupport.h"

#include <OrnUtil/System.h>
#include <csignal>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef SYS_poll
#define SYS_poll SYS_ppoll // architectures that have only the newer call
#endif

using OrnUtil::BinBuffer;
using OrnUtil::CComm;
using OrnUtil::CCommFd;
using namespace testing_support;

namespace OrnUtil {
// Shows what the channel keeps.
class CInspectedTCP : public CCommTCP {
public:
    using CCommTCP::CCommTCP;
    uint32_t PeerAddr() const { return m_PeerAddr; }
    uint16_t PeerPort() const { return m_PeerPort; }
    size_t Options() const { return m_Options.size(); }
    static int32_t StartResult() { return WsaErr; }
};
} // namespace OrnUtil

namespace {

using OrnUtil::CInspectedTCP;

// The two ends of a pipe (read, write) or of a socket pair, close-on-exec.
std::pair<int, int> Pipe(bool sockets = false) {
    int fds[2];
    if ((sockets ? socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds)
                 : pipe2(fds, O_CLOEXEC)) != 0)
        throw std::runtime_error("no descriptors left");
    return {fds[0], fds[1]};
}

bool IsOpen(int fd) {
    return fcntl(fd, F_GETFD) != -1;
}

int SocketOption(unsigned int fd, int level, int name) {
    int value = 0;
    socklen_t length = sizeof value;
    getsockopt(static_cast<int>(fd), level, name, &value, &length);
    return value;
}

std::string Frame(uint32_t length, const std::string& payload) {
    return std::string(reinterpret_cast<const char*>(&length), 4) + payload;
}

std::string Readable(BinBuffer& buffer) {
    return std::string(buffer.ReadPtr(), static_cast<size_t>(buffer.OutAvail()));
}

// Every operation of the buffer is checked against a model by its fuzz target.
TEST(BinBuffer, CopiesOwnTheirStorageWithCursorsAtTheSameOffsets) {
    BinBuffer original(8);
    original.PutL(0x64636261);
    original.GetC();
    BinBuffer copy(original);
    copy.PutC('e');
    original.GetC();
    BinBuffer assigned(0);
    assigned = original;
    assigned = static_cast<const BinBuffer&>(assigned);
    assigned.PutS(0x6665);
    EXPECT_EQ(Readable(copy) + Readable(original) + Readable(assigned), "bcdecdcdef");
}

TEST(CommChannel, ConnectSendReceiveAndDisconnectFollowTheLifeCycle) {
    const auto [in, out] = Pipe();
    CCommFd channel(in, out);
    char text[3] = {};
    EXPECT_TRUE(channel.Recv(0, text)) << "an empty receive succeeds, connected or not";
    EXPECT_FALSE(channel.Recv(1, text) || channel.Send(1, "a") || channel.Disconnect());
    EXPECT_TRUE(channel.Connect() && channel.Connect() && channel.Connected);
    EXPECT_TRUE(channel.Send(0, nullptr) && channel.Send(3, "abc") && channel.Recv(2, text));
    EXPECT_TRUE(channel.Disconnect());
    EXPECT_FALSE(channel.Connected || channel.Recv(1, text)) << "c is still there";
    EXPECT_FALSE(IsOpen(out) || channel.FdOut() != CComm::NONE);
    const int spare[] = {open("/dev/null", O_RDONLY), open("/dev/null", O_RDONLY)}; // freed numbers
    EXPECT_TRUE(channel.Connect() && channel.Recv(1, text));
    struct stat null {
    }, first{}, second{};
    EXPECT_TRUE(stat("/dev/null", &null) == 0 && fstat(spare[0], &first) == 0 &&
                fstat(spare[1], &second) == 0 && first.st_rdev == null.st_rdev &&
                second.st_rdev == null.st_rdev)
        << "a reconnect closes only what it holds";
    close(spare[0]);
    close(spare[1]);
    EXPECT_EQ(std::string(text), "cb");
    EXPECT_FALSE(channel.Send(1, "a")) << "reconnected, it reads its input but has no output";
    close(in);
}

TEST(CommChannel, OnlyAConnectedChannelClosesItsOutputAndOnlyOnce) {
    const auto [in, out] = Pipe();
    { CCommFd idle(in, out); }
    {
        CCommFd channel(in, out);
        ASSERT_TRUE(channel.Connect() && channel.Disconnect());
        ASSERT_EQ(dup(in), out) << "the number is free again";
    }
    EXPECT_TRUE(IsOpen(out)) << "and is not closed a second time";
    CCommFd(-1, out).Connect();
    EXPECT_FALSE(IsOpen(out) || !IsOpen(in)) << "a channel that goes connected closes its output";
    close(in);
    // The standard channels read descriptor 0 and write 1; the framing test's peer runs one.
    EXPECT_EQ(OrnUtil::CCommSTDIN().FdIn() + OrnUtil::CCommSTDIO().FdIn() +
                  OrnUtil::CCommSTDOUT().FdOut() + OrnUtil::CCommSTDIO().FdOut(),
              2u);
    EXPECT_EQ(OrnUtil::CCommSTDIN().FdOut() & OrnUtil::CCommSTDOUT().FdIn(), CComm::NONE);
}

std::atomic<int> interruptions{0};

TEST(CommChannel, SendGoesOnAfterPartialAndInterruptedWrites) {
    // Without SA_RESTART a write blocked on a full pipe returns early: with the part written so
    // far, or with EINTR when nothing went through.
    struct sigaction action {};
    action.sa_handler = [](int) { ++interruptions; };
    ASSERT_EQ(sigaction(SIGUSR1, &action, nullptr), 0);
    const auto [in, out] = Pipe();
    ASSERT_GE(fcntl(out, F_SETPIPE_SZ, 4096), 4096);
    CCommFd channel(in, out);
    ASSERT_TRUE(channel.Connect());
    std::string message(1 << 18, '\0');
    for (size_t i = 0; i < message.size(); ++i)
        message[i] = static_cast<char>(i * 7 + i / 4096);
    std::atomic<pid_t> writer{0};
    std::thread sending([&] {
        writer = gettid();
        EXPECT_TRUE(channel.Send(static_cast<unsigned int>(message.size()), message.data()));
    });
    for (int interrupted = 1; interrupted <= 3; ++interrupted) {
        while (writer.load() == 0)
            std::this_thread::yield();
        WaitUntilBlockedIn(writer, {SYS_write});
        pthread_kill(sending.native_handle(), SIGUSR1);
        while (interruptions.load() < interrupted)
            std::this_thread::yield();
    }
    std::string received(message.size(), '\0');
    for (size_t done = 0; done < received.size();)
        done += static_cast<size_t>(read(in, &received[done], received.size() - done));
    sending.join();
    EXPECT_TRUE(received == message) << "bytes lost or repeated";
}

bool SigpipeIn(int (*read)(sigset_t*)) {
    sigset_t set;
    sigemptyset(&set);
    return read(&set) == 0 && sigismember(&set, SIGPIPE) == 1;
}
int BlockedSignals(sigset_t* set) {
    return pthread_sigmask(SIG_BLOCK, nullptr, set);
}

// Plain and framed sends alike, over pipes and sockets; the thread's signal state comes back as
// it was, a SIGPIPE the application holds pending among it.
TEST(CommChannel, SendToAPeerThatHasGoneFailsAndTheProcessLives) {
    signal(SIGPIPE, SIG_DFL);
    for (bool applicationBlocks : {false, true}) {
        sigset_t sigpipe;
        sigemptyset(&sigpipe);
        sigaddset(&sigpipe, SIGPIPE);
        if (applicationBlocks) {
            pthread_sigmask(SIG_BLOCK, &sigpipe, nullptr);
            raise(SIGPIPE);
        }
        for (bool sockets : {false, true}) {
            const auto [in, out] = Pipe(sockets);
            auto channel = std::make_shared<CCommFd>(-1, out);
            CCommBufBinOut framed(channel);
            framed.PutL(7);
            EXPECT_TRUE(channel->Connect() && framed.Send());
            EXPECT_EQ(SigpipeIn(BlockedSignals), applicationBlocks);
            close(in);
            framed.PutL(7);
            EXPECT_TRUE(!channel->Send(4, "lost") && !framed.Send());
            EXPECT_EQ(SigpipeIn(BlockedSignals), applicationBlocks);
            EXPECT_EQ(SigpipeIn(sigpending), applicationBlocks) << "the application's own stays";
        }
        if (applicationBlocks) {
            const timespec now{};
            EXPECT_EQ(sigtimedwait(&sigpipe, nullptr, &now), SIGPIPE);
            pthread_sigmask(SIG_UNBLOCK, &sigpipe, nullptr);
        }
    }
}

TEST(CommChannel, CopiesNeverCloseWhatTheOtherHolds) {
    const auto [one, other] = Pipe(true);
    CCommFd original(one);
    WriteAll(other, "xy");
    char text[2];
    EXPECT_FALSE(CCommFd(original).Recv(1, text)) << "the copy of an idle channel is idle";
    ASSERT_TRUE(original.Connect());
    CCommFd copy(original);
    EXPECT_EQ(copy.FdIn(), copy.FdOut()) << "a socket is read and written through one descriptor";
    ASSERT_TRUE(original.Disconnect());
    EXPECT_TRUE(copy.Connected && copy.Send(2, "hi") && copy.Recv(1, text) && copy.CancelRecv());
    EXPECT_FALSE(copy.Recv(1, text)) << "the copy has a cancel signal of its own";
    EXPECT_EQ(read(other, text, 2), 2);
    const auto [in, out] = Pipe();
    CCommFd target(in, out);
    target = copy;
    EXPECT_FALSE(target.Connected || target.FdOut() != static_cast<unsigned>(out));
    OrnUtil::CCommSTDOUT output;
    const size_t open = OpenDescriptors();
    for (int copies = 0; copies < 20; ++copies) {
        CCommFd{target};
        OrnUtil::CCommSTDOUT{output};
    }
    EXPECT_EQ(OpenDescriptors(), open) << "an idle copy closes its duplicate";
    for (int fd : {other, in, out})
        close(fd);
}

TEST(Framing, MessagesArriveWholeWithATerminatingNul) {
    const auto [in, out] = Pipe();
    auto channel = std::make_shared<CCommFd>(in, out);
    CCommBufBinIn receiver(channel);
    CCommBufBinOut sender(channel);
    receiver.PutC('k');
    sender.PutN("hello", 5);
    EXPECT_FALSE(sender.Send() || sender.Send(1, "x") || receiver.Recv()) << "not connected";
    ASSERT_TRUE(channel->Connect() && sender.Send() && !sender.Send()) << "nothing left to send";
    EXPECT_EQ(Readable(receiver), "k") << "a failed receive leaves the buffer as it was";
    WriteAll(out, Frame(0, "") + Frame(3, "abc"));
    for (const std::string& message : {std::string("hello"), std::string(), std::string("abc")}) {
        ASSERT_TRUE(receiver.Recv());
        EXPECT_EQ(Readable(receiver), message + '\0');
    }
}

TEST(Framing, HostileLengthsAreDrainedAndAnsweredWithAPlaceholder) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {Frame(511999, std::string(511999, 'a')), {std::string(511999, 'a')}},
        {Frame(512000, std::string(512000, 'b')) + Frame(2, "ok"), {"{}", "ok"}},
        {Frame(0x80000000u, "0123456789"), {"{}"}},
        {Frame(10, "1234"), {"{}"}},
        {Frame(2, "ok") + "\x02", {"ok"}}, // then a length prefix cut short
    };
    for (const auto& test : cases) {
        const auto [one, other] = Pipe(true);
        auto channel = std::make_shared<CCommFd>(one);
        ASSERT_TRUE(channel->Connect());
        CCommBufBinIn receiver(channel);
        std::thread peer([&test, other = other] {
            WriteAll(other, test.first);
            close(other);
        });
        for (const std::string& message : test.second) {
            ASSERT_TRUE(receiver.Recv());
            EXPECT_TRUE(Readable(receiver) == message + '\0') << message.substr(0, 2);
        }
        EXPECT_FALSE(receiver.Recv());
        EXPECT_TRUE(Readable(receiver) == test.second.back() + '\0') << "left as it was";
        peer.join();
    }
}

TEST(Framing, ASecondProcessAnswersOnItsStandardStreams) {
    int in, out, err;
    void* peer = nullptr;
    ASSERT_TRUE(
        OrnUtil::CreateChildProcess(HelperPath("frame_peer"), "", in, out, err, peer, false));
    auto channel = std::make_shared<CCommFd>(out, in);
    CCommBufBinIn receiver(channel);
    CCommBufBinOut sender(channel);
    for (const std::string& text : {std::string("first"), std::string(60000, 'x')}) {
        sender.PutN(text.data(), static_cast<int32_t>(text.size()));
        ASSERT_TRUE(channel->Connect() && sender.Send() && receiver.Recv());
        EXPECT_EQ(receiver.ReadPtr(), "echo:" + text);
    }
    ASSERT_TRUE(channel->Disconnect());
    int code = -1;
    EXPECT_TRUE(OrnUtil::WaitChildProcess(peer, -1, code));
    EXPECT_EQ(code, 2) << "messages the peer answered";
    OrnUtil::CloseChildProcess(peer);
    close(out);
    close(err);
}

// The drain of a payload cut short stops at the first receive that fails, and after a disconnect
// every receive fails: a disconnect that wakes the payload's receive ends the drain too.
TEST(Framing, DisconnectEndsAReceiveAlsoWhenItGoesOnToDrain) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        const auto [in, out] = Pipe();
        auto channel = std::make_shared<CCommFd>(in, -1);
        ASSERT_TRUE(channel->Connect());
        WriteAll(out, Frame(16, "abc"));
        CCommBufBinIn receiver(channel);
        std::atomic<pid_t> tid{0};
        bool received = false;
        std::thread receiving([&] {
            tid = gettid();
            received = receiver.Recv();
        });
        while (tid.load() == 0)
            std::this_thread::yield();
        WaitUntilBlockedIn(tid, {SYS_poll, SYS_ppoll});
        EXPECT_TRUE(channel->Disconnect());
        receiving.join();
        EXPECT_TRUE(received && Readable(receiver) == std::string("{}", 3));
        close(in);
        close(out);
    }
}

class TcpChannel : public testing::Test {
protected:
    LoopbackServer m_Server;

    // A connected channel made the application's way, and the server's end of it.
    std::pair<std::unique_ptr<CInspectedTCP>, int> ConnectedPair() {
        auto channel = std::make_unique<CInspectedTCP>("127.0.0.1", m_Server.Port());
        EXPECT_TRUE(channel->Connect());
        return {std::move(channel), m_Server.Accept()};
    }
};

// A cancel ends the receive waiting now or else the next one; Disconnect ends it too.
TEST_F(TcpChannel, CancelOrDisconnectEndsAReceiveOnEveryKindOfChannel) {
    const auto [one, other] = Pipe(true);
    auto [tcp, peer] = ConnectedPair();
    CCommFd pair(one);
    close(0); // without standard input, the next cancel signal is descriptor 0
    for (auto [channel, writer] : {std::pair<CComm*, int>{&pair, other}, {tcp.get(), peer}}) {
        ASSERT_TRUE(channel->Connect() && channel->CancelRecv() && channel->CancelRecv());
        WriteAll(writer, "data");
        char data[4];
        EXPECT_FALSE(channel->Recv(4, data)) << "a pending cancel wins over waiting input";
        EXPECT_TRUE(channel->Recv(4, data))
            << "two cancels in a row count as one; nothing was read";
        for (bool disconnect : {false, true}) {
            BackgroundRecv blocked(*channel, 4, data);
            blocked.WaitUntilBlocked();
            EXPECT_TRUE(disconnect ? channel->Disconnect() : channel->CancelRecv());
            EXPECT_FALSE(blocked.Wait());
        }
        EXPECT_EQ(read(writer, data, 4), 0) << "the peer sees the connection end";
        EXPECT_TRUE(channel->CancelRecv()) << "true even without a signal to raise";
        close(writer);
    }
}

TEST_F(TcpChannel, ACopyEndsOnlyItsOwnHoldOnTheConnection) {
    auto [channel, peer] = ConnectedPair();
    char text[2];
    {
        CInspectedTCP copy(*channel);
        BackgroundRecv blocked(copy, 2, text);
        blocked.WaitUntilBlocked();
        EXPECT_TRUE(copy.Disconnect() && !blocked.Wait());
        CInspectedTCP{*channel};
    }
    WriteAll(peer, "ok");
    EXPECT_TRUE(channel->Connected && channel->Send(2, "hi") && channel->Recv(2, text));
    EXPECT_TRUE(read(peer, text, 2) == 2 && std::string(text, 2) == "hi");
    close(peer);
}

TEST_F(TcpChannel, EveryConnectionHasNoDelayAndTheOptionsSetBeforeConnectNewestFirst) {
    CInspectedTCP byName("localhost", m_Server.Port());
    EXPECT_EQ(CInspectedTCP::StartResult(), 0);
    CInspectedTCP byNumber(0x7F000001u, m_Server.Port());
    EXPECT_TRUE(byNumber.SetOption(SOL_SOCKET, SO_SNDBUF, 8192) &&
                byNumber.SetOption(SOL_SOCKET, SO_SNDBUF, 16384));
    char text[2];
    for (CInspectedTCP* channel : {&byName, &byNumber}) {
        EXPECT_FALSE(channel->Connected || channel->Send(1, "x") || channel->Recv(1, text));
        ASSERT_TRUE(channel->Connect() && channel->Connect());
        EXPECT_EQ(SocketOption(channel->FdOut(), IPPROTO_TCP, TCP_NODELAY), 1);
        CInspectedTCP wrapped(static_cast<unsigned int>(m_Server.Accept()));
        EXPECT_TRUE(wrapped.Connected && wrapped.Options() == 0 && wrapped.PeerAddr() == 0 &&
                    wrapped.PeerPort() == 0);
        EXPECT_EQ(SocketOption(wrapped.FdIn(), IPPROTO_TCP, TCP_NODELAY), 1);
        EXPECT_TRUE(wrapped.Send(2, "hi") && channel->Recv(2, text));
        wrapped = *channel;
        EXPECT_TRUE(wrapped.PeerAddr() == 0x7F000001u && wrapped.PeerPort() == m_Server.Port())
            << "assignment takes the peer";
    }
    LoopbackHttpServer elsewhere([](const HttpRequest&) { return HttpResponse{}; }, 0, "127.0.0.2");
    EXPECT_TRUE(CInspectedTCP(0x7F000002u, elsewhere.Port()).Connect()) << "the peer's own address";
    // The kernel doubles what it is given; the oldest option came last.
    EXPECT_EQ(SocketOption(byNumber.FdOut(), SOL_SOCKET, SO_SNDBUF), 2 * 8192);
    EXPECT_EQ(byNumber.Options(), 0u);
    EXPECT_TRUE(byName.SetOption(SOL_SOCKET, SO_SNDBUF, 32768)) << "while connected, at once";
    EXPECT_EQ(SocketOption(byName.FdOut(), SOL_SOCKET, SO_SNDBUF), 2 * 32768);
    EXPECT_FALSE(byName.SetOption(IPPROTO_TCP, 9999, 1)) << "and a refusal is told";
}

TEST_F(TcpChannel, ASocketLeftByAFailedConnectIsClosedByTheNextAttemptOrTheEnd) {
    const size_t open = OpenDescriptors();
    {
        CInspectedTCP refusedOption(0x7F000001u, m_Server.Port());
        refusedOption.SetOption(SOL_SOCKET, SO_SNDBUF, 8192);
        refusedOption.SetOption(IPPROTO_TCP, 9999, 1);
        EXPECT_FALSE(refusedOption.Connect() || refusedOption.Connect());
        EXPECT_EQ(refusedOption.Options(), 2u) << "the refused option and the older one stay";
        EXPECT_EQ(OpenDescriptors(), open + 1);
    }
    EXPECT_EQ(OpenDescriptors(), open);
    auto gone = std::make_unique<LoopbackServer>();
    CInspectedTCP refused("127.0.0.1", gone->Port());
    gone.reset();
    EXPECT_FALSE(refused.Connect() || refused.Disconnect());
    EXPECT_EQ(refused.FdIn(), CComm::NONE);
    {
        auto connected = ConnectedPair();
        close(connected.second);
    }
    EXPECT_EQ(OpenDescriptors(), open) << "a channel that goes connected disconnects";
}

TEST_F(TcpChannel, EachReceiveCycleIsLoggedAndAPeerThatGoesEndsReceivesAndSends) {
    TempDir dir;
    ScopedEnv appData("APPDATA", dir.Path());
    ASSERT_EQ(RunTool("ornlevel", {"APP", "DEBUG1"}).exitCode, 0);
    ASSERT_TRUE(OrnUtil::CLog::Init(""));
    CapturedLog log;
    auto [channel, peer] = ConnectedPair();
    char eight[8] = {};
    // The receive loop is every channel's: pieces are gathered, no byte beyond the count taken.
    BackgroundRecv gathering(*channel, 8, eight);
    WriteAll(peer, "abc");
    gathering.WaitUntilBlocked();
    WriteAll(peer, "defgh12");
    EXPECT_TRUE(gathering.Wait());
    EXPECT_THAT(log.Text(),
                testing::ContainsRegex(
                    " DEBUG1 [0-9a-f]+:class "
                    "OrnUtil::CInspectedTCP:[0-9]+:OrnUtil::CCommTCP::Recv:R: 3\n.*:R: 5\n"));
    signal(SIGPIPE, SIG_DFL);
    close(peer);
    EXPECT_FALSE(channel->Recv(8, eight));
    EXPECT_EQ(std::string(eight, 8), "12cdefgh");
    bool sent = true; // the first sends may still be taken: the peer's reset answers them
    for (int attempt = 0; attempt < 1000 && sent; ++attempt)
        sent = channel->Send(4, "gone");
    EXPECT_FALSE(sent);
    OrnUtil::CLog::Shutdown();
}

} // namespace
