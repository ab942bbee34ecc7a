// The TCP channel against a loopback listener, with its log lines.
#include "TestSupport.h"
#include "log/LevelFile.h"

#include <OrnUtil/Comm.h>
#include <atomic>
#include <csignal>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using OrnUtil::CComm;
using OrnUtil::CLog;
using testing::ContainsRegex;
using testing::HasSubstr;
using testing::Not;
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

const std::string LINE_START = "[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}";

// A log line of the channel: the level text, then thread, class, line and function. The class
// text is the object's dynamic type, the function text the channel's own.
std::string Logged(const char* level, const char* function, const std::string& message) {
    return "(^|\n)" + LINE_START + level +
           "[0-9a-f]+:class OrnUtil::CInspectedTCP:[0-9]+:" + "OrnUtil::CCommTCP::" + function +
           ":" + message;
}

int SocketOption(int fd, int level, int name) {
    int value = 0;
    socklen_t length = sizeof value;
    getsockopt(fd, level, name, &value, &length);
    return value;
}

class TcpChannel : public testing::Test {
protected:
    TempDir m_Dir;
    ScopedEnv m_AppData{"APPDATA", m_Dir.Path()};
    LoopbackServer m_Server;
    CapturedLog m_Log;

    void SetUp() override { ASSERT_TRUE(CLog::Init("")); }
    void TearDown() override { CLog::Shutdown(); }

    // Any level, the finer ones that ReportingLevel caps at DEBUG included, as another program
    // of the family would write it into the level file.
    void SetLevel(TLogLevel level) {
        auto view = OrnUtil::internal::OpenLevelFile(WARN);
        ASSERT_NE(view.table, nullptr);
        view.table[APP] = level;
        OrnUtil::internal::CloseLevelFile(view);
    }

    // A connected channel made the application's way, and the server's end of it.
    std::pair<std::unique_ptr<CInspectedTCP>, int> ConnectedPair() {
        auto channel = std::make_unique<CInspectedTCP>("127.0.0.1", m_Server.Port());
        EXPECT_TRUE(channel->Connect());
        return {std::move(channel), m_Server.Accept()};
    }
};

TEST_F(TcpChannel, WrappedOrByPeerEveryChannelConnectsWithNoDelay) {
    const int client = m_Server.Connect();
    close(m_Server.Accept());
    CInspectedTCP wrapped(static_cast<unsigned int>(client));
    EXPECT_TRUE(wrapped.Connected);
    EXPECT_EQ(CInspectedTCP::StartResult(), 0);
    EXPECT_EQ(SocketOption(client, IPPROTO_TCP, TCP_NODELAY), 1);
    EXPECT_EQ(wrapped.Options(), 0u) << "the recorded option was applied and removed";
    EXPECT_EQ(wrapped.PeerAddr(), 0u);
    EXPECT_EQ(wrapped.PeerPort(), 0u);
    EXPECT_EQ(wrapped.FdIn(), wrapped.FdOut());

    // Peers by name, text or number connect alike.
    CInspectedTCP byName("localhost", m_Server.Port());
    CInspectedTCP byText("127.0.0.1", m_Server.Port());
    CInspectedTCP byNumber(0x7F000001u, m_Server.Port());
    for (CInspectedTCP* channel : {&byName, &byText, &byNumber}) {
        EXPECT_EQ(channel->PeerAddr(), 0x7F000001u);
        EXPECT_EQ(channel->PeerPort(), m_Server.Port());
        EXPECT_FALSE(channel->Connected);
        ASSERT_TRUE(channel->Connect());
        close(m_Server.Accept());
        EXPECT_EQ(SocketOption(static_cast<int>(channel->FdOut()), IPPROTO_TCP, TCP_NODELAY), 1);
    }
    EXPECT_EQ(CInspectedTCP("255.255.255.255", 1).PeerAddr(), 0xFFFFFFFFu);
}

TEST_F(TcpChannel, OptionsSetBeforeConnectReachTheSocketNewestFirst) {
    CInspectedTCP channel("127.0.0.1", m_Server.Port());
    EXPECT_TRUE(channel.SetOption(SOL_SOCKET, SO_SNDBUF, 8192));
    EXPECT_TRUE(channel.SetOption(SOL_SOCKET, SO_SNDBUF, 16384));
    EXPECT_EQ(channel.Options(), 2u);
    ASSERT_TRUE(channel.Connect());
    EXPECT_EQ(channel.Options(), 0u);
    const int socket = static_cast<int>(channel.FdOut());
    // The kernel doubles what it is given; the oldest option was applied last.
    EXPECT_EQ(SocketOption(socket, SOL_SOCKET, SO_SNDBUF), 2 * 8192);

    // While connected an option goes to the socket at once, and its refusal is reported.
    EXPECT_TRUE(channel.SetOption(SOL_SOCKET, SO_SNDBUF, 32768));
    EXPECT_EQ(SocketOption(socket, SOL_SOCKET, SO_SNDBUF), 2 * 32768);
    EXPECT_FALSE(channel.SetOption(IPPROTO_TCP, 9999, 1));
    EXPECT_EQ(channel.Options(), 0u);
    close(m_Server.Accept());
}

TEST_F(TcpChannel, AFailedConnectLogsWhyAndLeavesItsSocketToDisconnect) {
    // A refused option stops Connect before any connection attempt.
    CInspectedTCP refusedOption("127.0.0.1", m_Server.Port());
    refusedOption.SetOption(SOL_SOCKET, SO_SNDBUF, 8192);
    refusedOption.SetOption(IPPROTO_TCP, 9999, 1);
    EXPECT_FALSE(refusedOption.Connect());
    EXPECT_FALSE(m_Server.HasPending());
    EXPECT_EQ(refusedOption.Options(), 2u) << "the refused option and the older ones stay";
    EXPECT_NE(refusedOption.FdIn(), CComm::NONE);
    EXPECT_FALSE(refusedOption.Disconnect());
    EXPECT_EQ(refusedOption.FdIn(), CComm::NONE);

    uint16_t closedPort;
    {
        LoopbackServer gone;
        closedPort = gone.Port();
    }
    CInspectedTCP refused("127.0.0.1", closedPort);
    EXPECT_FALSE(refused.Connect());
    EXPECT_FALSE(refused.Send(1, "x"));
    EXPECT_FALSE(refused.Disconnect());

    EXPECT_THAT(m_Log.Text(), ContainsRegex(Logged(" ERROR  ", "ApplyOptions",
                                                   "Failed to set socket options " +
                                                       std::to_string(ENOPROTOOPT) + "\n")));
    EXPECT_THAT(m_Log.Text(), ContainsRegex(Logged(" ERROR  ", "Connect", "Connection refused\n")));
}

TEST_F(TcpChannel, StepsAreLoggedAtDebugAndEveryCycleAtDebug1) {
    SetLevel(DEBUG1);
    auto [channel, peer] = ConnectedPair();
    char eight[8];
    BackgroundRecv gathering(*channel, 8, eight);
    WriteAll(peer, "abc");
    gathering.WaitUntilBlocked(); // the three bytes taken, waiting for the rest
    WriteAll(peer, "defgh");
    EXPECT_TRUE(gathering.Wait());
    EXPECT_EQ(std::string(eight, 8), "abcdefgh");
    EXPECT_TRUE(channel->Recv(0, eight));
    EXPECT_TRUE(channel->Send(2, "ok"));
    EXPECT_TRUE(channel->Disconnect());

    const std::string text = m_Log.Text();
    EXPECT_THAT(text, ContainsRegex(Logged(" DEBUG  ", "Connect", "\n")));
    EXPECT_THAT(text, ContainsRegex(Logged(" DEBUG  ", "Recv", "N: 8\n") + LINE_START +
                                    " DEBUG1 .*R: 3\n" + LINE_START + " DEBUG1 .*R: 5\n"));
    EXPECT_THAT(text, ContainsRegex(Logged(" DEBUG  ", "Recv", "N: 0\n")));
    EXPECT_THAT(text, ContainsRegex(Logged(" DEBUG  ", "Disconnect", "\n")));
    EXPECT_THAT(text, Not(HasSubstr("| 0000 |"))) << "no dumps below DEBUG3";
    close(peer);
}

TEST_F(TcpChannel, TrafficIsDumpedAtDebug3EvenWhenTheSendIsRefused) {
    SetLevel(DEBUG3);
    CInspectedTCP idle(0x7F000001u, m_Server.Port());
    EXPECT_FALSE(idle.Send(3, "ABC"));
    EXPECT_FALSE(idle.Recv(3, nullptr));
    auto [channel, peer] = ConnectedPair();
    WriteAll(peer, "hi!");
    char text[3];
    EXPECT_TRUE(channel->Recv(3, text));

    const std::string log = m_Log.Text();
    EXPECT_THAT(log, ContainsRegex(Logged(" DEBUG3 ", "Send", "\n\\| 0000 \\| 41 42 43 ")));
    EXPECT_THAT(log, ContainsRegex(Logged(" DEBUG3 ", "Recv", "\n\\| 0000 \\| 68 69 21 ")));
    const size_t counted = log.find("N: 3");
    EXPECT_TRUE(counted != std::string::npos && counted == log.rfind("N: 3"))
        << "a receive refused before Connect logs nothing";
    close(peer);
}

TEST_F(TcpChannel, APeerThatClosesEndsRecvWithoutAnError) {
    auto [channel, peer] = ConnectedPair();
    WriteAll(peer, "12");
    close(peer);
    char four[4] = {'.', '.', '.', '.'};
    EXPECT_FALSE(channel->Recv(4, four));
    EXPECT_EQ(std::string(four, 4), "12..");
    EXPECT_THAT(m_Log.Text(), Not(HasSubstr(" ERROR  ")));
}

TEST_F(TcpChannel, CancelOrDisconnectFromAnotherThreadEndsABlockedRecv) {
    ASSERT_TRUE(CLog::ReportingLevel(APP, INFO));
    auto [channel, peer] = ConnectedPair();
    char text[4];
    {
        BackgroundRecv blocked(*channel, 4, text);
        blocked.WaitUntilBlocked();
        EXPECT_TRUE(channel->CancelRecv());
        EXPECT_FALSE(blocked.Wait());
    }
    EXPECT_THAT(m_Log.Text(), ContainsRegex(Logged(" INFO   ", "Recv", "Cancelled\n")));
    WriteAll(peer, "more");
    EXPECT_TRUE(channel->Recv(4, text)) << "the connection stays usable";
    EXPECT_EQ(std::string(text, 4), "more");

    BackgroundRecv blocked(*channel, 4, text);
    blocked.WaitUntilBlocked();
    EXPECT_TRUE(channel->Disconnect());
    EXPECT_FALSE(blocked.Wait());
    EXPECT_EQ(channel->FdIn(), CComm::NONE);
    EXPECT_EQ(read(peer, text, 4), 0) << "the peer sees the connection end";
    close(peer);
}

TEST_F(TcpChannel, ASendToAPeerThatHasGoneFailsWithoutSigpipe) {
    signal(SIGPIPE, SIG_DFL);
    auto [channel, peer] = ConnectedPair();
    close(peer);
    // The first send may still be accepted: the peer's reset answers it.
    bool sent = true;
    for (int attempt = 0; attempt < 1000 && sent; ++attempt)
        sent = channel->Send(4, "gone");
    EXPECT_FALSE(sent);
    EXPECT_THAT(m_Log.Text(), ContainsRegex(Logged(" ERROR  ", "Send",
                                                   "WSASend: (" + std::to_string(EPIPE) + "|" +
                                                       std::to_string(ECONNRESET) + ")\n")));
}

TEST_F(TcpChannel, CopiesHoldTheirOwnSocketAndAssignmentTakesOnlyThePeer) {
    auto [channel, peer] = ConnectedPair();
    CInspectedTCP copy(*channel);
    EXPECT_TRUE(copy.Connected);
    EXPECT_NE(copy.FdOut(), channel->FdOut());
    EXPECT_EQ(copy.PeerAddr(), 0x7F000001u);
    EXPECT_TRUE(copy.Send(2, "c1"));
    channel.reset();
    EXPECT_TRUE(copy.Connected);
    char text[2];
    ASSERT_EQ(read(peer, text, 2), 2);

    CInspectedTCP target(0x01020304u, 7);
    target = copy;
    EXPECT_EQ(target.PeerAddr(), 0x7F000001u);
    EXPECT_EQ(target.PeerPort(), m_Server.Port());
    EXPECT_FALSE(target.Connected);
    close(peer);
}

TEST_F(TcpChannel, ASecondProcessExchangesMessagesOverTcp) {
    Child peer({HelperPath("frame_peer"), "tcp", std::to_string(m_Server.Port())});
    auto channel =
        std::make_shared<OrnUtil::CCommTCP>(static_cast<unsigned int>(m_Server.Accept()));
    CCommBufBinIn in(channel);
    CCommBufBinOut out(channel);
    for (const std::string& text : {std::string("one"), std::string(4000, 'x')}) {
        out.PutN(text.data(), static_cast<int32_t>(text.size()));
        ASSERT_TRUE(out.Send());
        ASSERT_TRUE(in.Recv());
        EXPECT_EQ(std::string(in.ReadPtr()), "echo:" + text);
    }
    EXPECT_TRUE(channel->Disconnect());
    EXPECT_EQ(peer.Wait(), 2) << "messages the peer answered";
}

} // namespace
