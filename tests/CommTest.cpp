// The descriptor channels and the message adapters, on real pipes, socketpairs and a second
// process.
#include "TestSupport.h"

#include <OrnUtil/Comm.h>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

using OrnUtil::CComm;
using OrnUtil::CCommFd;
using namespace testing_support;

namespace {

struct Pipe {
    int read = -1, write = -1;
    Pipe() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe2 failed");
        read = fds[0];
        write = fds[1];
    }
};

std::pair<int, int> SocketPair() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        throw std::runtime_error("socketpair failed");
    return {fds[0], fds[1]};
}

bool IsOpen(int fd) {
    return fcntl(fd, F_GETFD) != -1;
}

int Queued(int fd) {
    int bytes = 0;
    ioctl(fd, FIONREAD, &bytes);
    return bytes;
}

std::string Frame(uint32_t length, const std::string& payload) {
    std::string frame(4, '\0');
    for (int i = 0; i < 4; ++i)
        frame[static_cast<size_t>(i)] = static_cast<char>(length >> (8 * i));
    return frame + payload;
}

std::string Readable(OrnUtil::BinBuffer& buffer) {
    return std::string(buffer.ReadPtr(), static_cast<size_t>(buffer.OutAvail()));
}

// Shows the options a channel has recorded.
class CInspectedFd : public CCommFd {
public:
    using CCommFd::CCommFd;
    explicit CInspectedFd(const CCommFd& other) : CCommFd(other) {}
    size_t Options() const { return m_Options.size(); }
};

TEST(CommChannel, ConnectSendAndReceiveFollowTheLifeCycle) {
    Pipe pipe;
    CInspectedFd channel(pipe.read, pipe.write);
    char byte = 'x';
    EXPECT_TRUE(channel.Recv(0, &byte)) << "an empty receive succeeds even before Connect";
    EXPECT_FALSE(channel.Recv(1, &byte)) << "without a cancel signal there is no receive";
    EXPECT_FALSE(channel.Send(1, "a"));
    EXPECT_EQ(Queued(pipe.read), 0) << "a refused send writes nothing";
    EXPECT_FALSE(channel.Disconnect());
    EXPECT_FALSE(channel.Connected);

    EXPECT_TRUE(channel.SetOption(6, 1, 1));
    EXPECT_EQ(channel.Options(), 1u);
    EXPECT_TRUE(channel.Connect());
    EXPECT_TRUE(channel.Connected);
    EXPECT_TRUE(channel.Connect());
    EXPECT_TRUE(channel.SetOption(6, 1, 1));
    EXPECT_EQ(channel.Options(), 1u) << "options set while connected are not recorded";
    EXPECT_TRUE(channel.Send(0, nullptr));
    EXPECT_TRUE(channel.Send(3, "abc"));
    char text[3];
    EXPECT_TRUE(channel.Recv(3, text));
    EXPECT_EQ(std::string(text, 3), "abc");

    EXPECT_TRUE(channel.Disconnect());
    EXPECT_FALSE(channel.Connected);
    EXPECT_FALSE(IsOpen(pipe.write));
    EXPECT_EQ(channel.FdOut(), CComm::NONE);
    EXPECT_EQ(channel.FdIn(), static_cast<unsigned int>(pipe.read));

    // Reconnected, it still reads its input, but it has no output any more.
    EXPECT_TRUE(channel.Connect());
    EXPECT_FALSE(channel.Send(1, "a"));
    close(pipe.read);
}

TEST(CommChannel, DisconnectClosesTheOutputDescriptorOnce) {
    const auto [one, other] = SocketPair();
    {
        CCommFd channel(one);
        ASSERT_TRUE(channel.Connect());
        ASSERT_TRUE(channel.Disconnect());
        EXPECT_FALSE(IsOpen(one));
        // The number is free again; a second close would take the new descriptor with it.
        ASSERT_EQ(dup(other), one);
    }
    EXPECT_TRUE(IsOpen(one));

    Pipe pipe;
    {
        CCommFd channel(pipe.read, pipe.write);
        ASSERT_TRUE(channel.Connect());
    }
    EXPECT_TRUE(IsOpen(pipe.read)) << "the input stays the caller's";
    EXPECT_FALSE(IsOpen(pipe.write)) << "destroying a connected channel disconnects it";

    OrnUtil::CCommSTDIN input;
    EXPECT_EQ(input.FdIn(), 0u);
    EXPECT_EQ(input.FdOut(), CComm::NONE);
    ASSERT_TRUE(input.Connect());
    EXPECT_TRUE(input.Disconnect());
    EXPECT_TRUE(IsOpen(0));

    // The standard output channels close the process's descriptor 1, lent here to a pipe.
    const int savedOutput = dup(1);
    auto closesStandardOutput = [&](CComm& channel) {
        Pipe lent;
        ASSERT_EQ(dup2(lent.write, 1), 1);
        ASSERT_TRUE(channel.Connect());
        EXPECT_TRUE(channel.Send(2, "ok"));
        EXPECT_TRUE(channel.Disconnect());
        EXPECT_FALSE(IsOpen(1));
        dup2(savedOutput, 1);
        char text[2];
        EXPECT_EQ(read(lent.read, text, 2), 2);
    };
    OrnUtil::CCommSTDOUT output;
    EXPECT_EQ(output.FdIn(), CComm::NONE);
    EXPECT_EQ(output.FdOut(), 1u);
    closesStandardOutput(output);
    char byte;
    EXPECT_FALSE(output.Recv(1, &byte)) << "a channel without input cannot receive";
    OrnUtil::CCommSTDIO both;
    EXPECT_EQ(both.FdIn(), 0u);
    closesStandardOutput(both);
}

std::atomic<int> interruptions{0};
void CountInterruption(int) {
    ++interruptions;
}

TEST(CommChannel, SendContinuesPartialAndInterruptedWrites) {
    // No SA_RESTART: a write blocked on a full pipe returns early, with the part written so far
    // or, when nothing went through, with EINTR.
    struct sigaction action {};
    action.sa_handler = CountInterruption;
    ASSERT_EQ(sigaction(SIGUSR1, &action, nullptr), 0);

    Pipe pipe;
    ASSERT_GE(fcntl(pipe.write, F_SETPIPE_SZ, 4096), 4096);
    CCommFd channel(pipe.read, pipe.write);
    ASSERT_TRUE(channel.Connect());
    std::string message(1 << 18, '\0');
    for (size_t i = 0; i < message.size(); ++i)
        message[i] = static_cast<char>(i * 7 + i / 4096);

    std::atomic<pid_t> writerTid{0};
    std::atomic<bool> sent{false};
    std::thread writer([&] {
        writerTid = gettid();
        sent = channel.Send(static_cast<unsigned int>(message.size()), message.data());
    });
    while (writerTid.load() == 0)
        std::this_thread::yield();
    // The first write fills the pipe and waits: interrupted, it returns what it wrote. The next
    // write finds the pipe full: interrupted, it fails with EINTR and is made again.
    for (int interrupted = 1; interrupted <= 3; ++interrupted) {
        WaitUntilBlockedIn(writerTid, {SYS_write});
        pthread_kill(writer.native_handle(), SIGUSR1);
        while (interruptions.load() < interrupted)
            std::this_thread::yield();
    }
    std::string received;
    char chunk[1000];
    while (received.size() < message.size()) {
        const ssize_t got = read(pipe.read, chunk, sizeof chunk);
        ASSERT_GT(got, 0);
        received.append(chunk, static_cast<size_t>(got));
    }
    writer.join();
    EXPECT_TRUE(sent);
    EXPECT_TRUE(received == message) << "bytes lost or repeated";
}

TEST(CommChannel, SendToAPeerThatHasGoneFailsWithoutSigpipe) {
    signal(SIGPIPE, SIG_DFL);
    sigset_t pending;

    Pipe pipe;
    close(pipe.read);
    CCommFd toPipe(-1, pipe.write);
    ASSERT_TRUE(toPipe.Connect());
    EXPECT_FALSE(toPipe.Send(4, "lost"));

    const auto [one, other] = SocketPair();
    close(other);
    CCommFd toSocket(one);
    ASSERT_TRUE(toSocket.Connect());
    EXPECT_FALSE(toSocket.Send(4, "lost"));
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE)) << "the signal the write raised was taken";

    // An application that blocks SIGPIPE itself keeps the one it had pending.
    sigset_t sigpipe;
    sigemptyset(&sigpipe);
    sigaddset(&sigpipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &sigpipe, nullptr);
    pthread_kill(pthread_self(), SIGPIPE);
    EXPECT_FALSE(toSocket.Send(4, "lost"));
    sigpending(&pending);
    EXPECT_TRUE(sigismember(&pending, SIGPIPE));
    const timespec now{};
    EXPECT_EQ(sigtimedwait(&sigpipe, nullptr, &now), SIGPIPE);
    EXPECT_EQ(sigtimedwait(&sigpipe, nullptr, &now), -1) << "only one was pending";
    pthread_sigmask(SIG_UNBLOCK, &sigpipe, nullptr);
}

TEST(CommChannel, RecvGathersPiecesAndKeepsWhatCameBeforeThePeerClosed) {
    Pipe pipe;
    CCommFd channel(pipe.read, -1);
    ASSERT_TRUE(channel.Connect());

    char eight[8];
    BackgroundRecv gathering(channel, 8, eight);
    WriteAll(pipe.write, "abc");
    gathering.WaitUntilBlocked();
    WriteAll(pipe.write, "defgh");
    EXPECT_TRUE(gathering.Wait());
    EXPECT_EQ(std::string(eight, 8), "abcdefgh");

    char ten[10];
    std::fill(ten, ten + 10, '.');
    WriteAll(pipe.write, "1234");
    close(pipe.write);
    EXPECT_FALSE(channel.Recv(10, ten));
    EXPECT_EQ(std::string(ten, 10), "1234......");
    EXPECT_FALSE(channel.Recv(1, ten)) << "at the end of input";
    close(pipe.read);
}

TEST(CommCancel, CancelsBeforeRecvCancelExactlyTheNextOneAndWinATie) {
    Pipe pipe;
    CCommFd channel(pipe.read, pipe.write);
    EXPECT_TRUE(channel.CancelRecv()) << "true even without a signal to raise";
    ASSERT_TRUE(channel.Connect());
    ASSERT_TRUE(channel.Send(4, "data"));
    EXPECT_TRUE(channel.CancelRecv());
    EXPECT_TRUE(channel.CancelRecv());
    char data[4];
    EXPECT_FALSE(channel.Recv(4, data)) << "input and cancel both there: the cancel wins";
    EXPECT_EQ(Queued(pipe.read), 4) << "and nothing was read";
    EXPECT_TRUE(channel.Recv(4, data)) << "two cancels in a row count as one";
    EXPECT_EQ(std::string(data, 4), "data");
    close(pipe.read);
}

TEST(CommCancel, CancelOrDisconnectFromAnotherThreadEndsABlockedRecv) {
    const auto [one, other] = SocketPair();
    CCommFd channel(one);
    ASSERT_TRUE(channel.Connect());
    char data[4];
    {
        BackgroundRecv blocked(channel, 4, data);
        blocked.WaitUntilBlocked();
        EXPECT_TRUE(channel.CancelRecv());
        EXPECT_FALSE(blocked.Wait());
    }
    WriteAll(other, "next");
    EXPECT_TRUE(channel.Recv(4, data)) << "the cancel was consumed";
    EXPECT_EQ(std::string(data, 4), "next");

    BackgroundRecv blocked(channel, 4, data);
    blocked.WaitUntilBlocked();
    EXPECT_TRUE(channel.Disconnect());
    EXPECT_FALSE(blocked.Wait());
    EXPECT_FALSE(IsOpen(one));
    close(other);
}

TEST(CommChannel, CopiesNeverCloseWhatTheOtherHolds) {
    const auto [one, other] = SocketPair();
    CCommFd original(one);
    ASSERT_TRUE(original.SetOption(1, 2, 3));
    ASSERT_TRUE(original.Connect());
    CInspectedFd copy(original);
    EXPECT_TRUE(copy.Connected);
    EXPECT_EQ(copy.Options(), 1u);
    EXPECT_NE(copy.FdOut(), original.FdOut());
    EXPECT_EQ(copy.FdIn(), copy.FdOut()) << "a socket is read and written through one descriptor";

    ASSERT_TRUE(original.Disconnect());
    EXPECT_TRUE(copy.Connected) << "each object has its own flag";
    EXPECT_TRUE(copy.Send(2, "hi"));
    char text[2];
    ASSERT_EQ(read(other, text, 2), 2);
    ASSERT_EQ(write(other, "yo", 2), 2);
    EXPECT_TRUE(copy.Recv(2, text));
    EXPECT_EQ(std::string(text, 2), "yo");
    EXPECT_TRUE(copy.CancelRecv());
    EXPECT_FALSE(copy.Recv(2, text)) << "the copy has a cancel signal of its own";

    Pipe pipe;
    CCommFd target(pipe.read, pipe.write);
    target = copy;
    EXPECT_EQ(target.FdOut(), static_cast<unsigned int>(pipe.write))
        << "assignment changes nothing";
    EXPECT_FALSE(target.Connected);
    close(other);
    close(pipe.read);
    close(pipe.write);
}

TEST(Framing, MessagesArriveWholeWithATerminatingNul) {
    Pipe pipe;
    auto channel = std::make_shared<CCommFd>(pipe.read, pipe.write);
    CCommBufBinIn in(channel);
    EXPECT_EQ(in.InAvail(), 512000);
    in.PutC('k');
    WriteAll(pipe.write, Frame(5, "hello"));
    EXPECT_FALSE(in.Recv()) << "the channel is not connected yet";
    EXPECT_EQ(Readable(in), "k") << "and the buffer is left as it was";

    ASSERT_TRUE(channel->Connect());
    ASSERT_TRUE(in.Recv());
    EXPECT_EQ(Readable(in), std::string("hello\0", 6));
    EXPECT_STREQ(in.ReadPtr(), "hello");

    WriteAll(pipe.write, Frame(0, "") + Frame(3, "abc") + std::string("\x02\x00", 2));
    ASSERT_TRUE(in.Recv());
    EXPECT_EQ(Readable(in), std::string(1, '\0'));
    ASSERT_TRUE(in.Recv());
    EXPECT_EQ(Readable(in), std::string("abc\0", 4));

    close(pipe.write);
    EXPECT_FALSE(in.Recv()) << "a length prefix cut short";
    EXPECT_EQ(Readable(in), std::string("abc\0", 4));
    close(pipe.read);
}

TEST(Framing, HostileLengthsAreDrainedAndAnsweredWithAPlaceholder) {
    const auto [one, other] = SocketPair();
    auto channel = std::make_shared<CCommFd>(one);
    ASSERT_TRUE(channel->Connect());
    CCommBufBinIn in(channel);
    const std::string placeholder("{}\0", 3);

    // The largest message that fits with its terminator, then one byte more, which is drained
    // to the last byte: the message after it arrives intact.
    std::thread writer([peer = other] {
        WriteAll(peer, Frame(511999, std::string(511999, 'a')));
        WriteAll(peer, Frame(512000, std::string(512000, 'b')));
        WriteAll(peer, Frame(2, "ok"));
    });
    ASSERT_TRUE(in.Recv());
    EXPECT_EQ(in.OutAvail(), 512000);
    EXPECT_EQ(in.InAvail(), 0);
    EXPECT_EQ(in.ReadPtr()[511998], 'a');
    EXPECT_EQ(in.ReadPtr()[511999], '\0');
    ASSERT_TRUE(in.Recv());
    EXPECT_EQ(Readable(in), placeholder);
    ASSERT_TRUE(in.Recv());
    EXPECT_EQ(Readable(in), std::string("ok\0", 3));
    writer.join();

    // Lengths with the high bit set are long messages too; whatever follows is drained until
    // the peer stops.
    for (uint32_t length : {0x80000000u, 0xFFFFFFFFu}) {
        const auto [mine, theirs] = SocketPair();
        auto drained = std::make_shared<CCommFd>(mine);
        ASSERT_TRUE(drained->Connect());
        CCommBufBinIn hostile(drained);
        WriteAll(theirs, Frame(length, "0123456789"));
        close(theirs);
        ASSERT_TRUE(hostile.Recv()) << length;
        EXPECT_EQ(Readable(hostile), placeholder);
        EXPECT_FALSE(hostile.Recv());
    }

    // A payload broken off by the peer gives the placeholder as well.
    WriteAll(other, Frame(10, "1234"));
    close(other);
    ASSERT_TRUE(in.Recv());
    EXPECT_EQ(Readable(in), placeholder);
}

TEST(Framing, SendPrefixesTheLengthAndEmptiesTheBuffer) {
    Pipe pipe;
    auto channel = std::make_shared<CCommFd>(pipe.read, pipe.write);
    CCommBufBinOut out(channel);
    EXPECT_EQ(out.InAvail(), 64000);
    ASSERT_TRUE(channel->Connect());
    EXPECT_FALSE(out.Send()) << "an empty buffer is not a message";
    EXPECT_EQ(Queued(pipe.read), 0);

    out.PutL(1);
    EXPECT_TRUE(out.Send());
    EXPECT_EQ(out.OutAvail(), 0);
    char bytes[8];
    ASSERT_EQ(read(pipe.read, bytes, 8), 8);
    EXPECT_EQ(std::string(bytes, 8), std::string("\x04\0\0\0\x01\0\0\0", 8));

    // A refused send keeps the message for the next attempt.
    auto idle = std::make_shared<CCommFd>(pipe.read, dup(pipe.write));
    CCommBufBinOut later(idle);
    later.PutN("abc", 3);
    EXPECT_FALSE(later.Send());
    EXPECT_FALSE(later.Send(3, "abc")) << "the pass-through refuses too";
    EXPECT_EQ(later.OutAvail(), 3);
    ASSERT_TRUE(idle->Connect());
    EXPECT_TRUE(later.Send());
    ASSERT_EQ(read(pipe.read, bytes, 7), 7);
    EXPECT_EQ(std::string(bytes, 7), std::string("\x03\0\0\0abc", 7));
    close(pipe.read);
}

TEST(Framing, ASecondProcessAnswersOnItsStandardStreams) {
    Child peer({HelperPath("frame_peer"), "stdio"});
    // The channel holds duplicates: the child's pipes stay with the Child object.
    auto channel = std::make_shared<CCommFd>(dup(peer.OutputFd()), dup(peer.InputFd()));
    ASSERT_TRUE(channel->Connect());
    CCommBufBinIn in(channel);
    CCommBufBinOut out(channel);
    for (const std::string& text : std::vector<std::string>{"first", "2", "third message"}) {
        out.PutN(text.data(), static_cast<int32_t>(text.size()));
        ASSERT_TRUE(out.Send());
        ASSERT_TRUE(in.Recv());
        EXPECT_STREQ(in.ReadPtr(), ("echo:" + text).c_str());
    }
    const unsigned int input = channel->FdIn();
    ASSERT_TRUE(channel->Disconnect());
    close(static_cast<int>(input));
    EXPECT_EQ(peer.Wait(), 3) << "messages the peer answered";
}

} // namespace
