// Byte buffers and channels: a message assembled in a buffer, framed messages between two
// processes over a pipe pair and over TCP, and a receive cancelled from another thread.
#include "Tour.h"

#include <OrnUtils.h>
#include <arpa/inet.h>
#include <cstdio>
#include <fcntl.h>
#include <iomanip>
#include <iostream>
#include <memory>
#include <netinet/in.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using OrnUtil::CComm;

namespace {

void Buffer() {
    OrnUtil::BinBuffer buffer(16);
    buffer.PutS(0x1234);
    buffer.PutL(7);
    std::cout << "PutS(0x1234) and PutL(7) store:";
    for (int i = 0; i < buffer.OutAvail(); ++i)
        std::cout << " " << std::hex << std::setw(2) << std::setfill('0')
                  << static_cast<int>(static_cast<unsigned char>(buffer.ReadPtr()[i]));
    std::cout << std::dec << std::setfill(' ') << "\n";
    std::cout << "GetS() gives 0x" << std::hex << buffer.GetS() << std::dec << ", GetL() gives "
              << buffer.GetL() << "\n";
    try {
        buffer.GetC();
    } catch (const std::overflow_error& error) {
        std::cout << "One get too many throws \"" << error.what() << "\"\n";
    }
}

// The other process's side: every message is a number and a text; the answer carries the same
// number and the text acknowledged. It ends when the channel does.
void Answer(const std::shared_ptr<CComm>& channel) {
    channel->Connect();
    CCommBufBinIn in(channel);
    CCommBufBinOut out(channel);
    while (in.Recv()) {
        const unsigned int number = in.GetL();
        const std::string answer = "ack " + std::string(in.ReadPtr());
        out.PutL(number);
        out.PutN(answer.data(), static_cast<int32_t>(answer.size()));
        if (!out.Send())
            break;
    }
}

void Ask(const std::shared_ptr<CComm>& channel, const char* how) {
    CCommBufBinOut out(channel);
    CCommBufBinIn in(channel);
    const char* texts[] = {"status?", "version?"};
    for (unsigned int number = 1; number <= 2; ++number) {
        const std::string text = texts[number - 1];
        out.PutL(number);
        out.PutN(text.data(), static_cast<int32_t>(text.size()));
        if (!out.Send() || !in.Recv()) {
            std::cout << "  the exchange failed\n";
            return;
        }
        const unsigned int answered = in.GetL();
        std::cout << "  " << how << ": sent #" << number << " \"" << text << "\", got #" << answered
                  << " \"" << in.ReadPtr() << "\"\n";
    }
}

int WaitFor(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void OverPipes() {
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)
        return;
    std::cout.flush();
    const pid_t child = fork();
    if (child == 0) {
        close(toChild[1]);
        close(fromChild[0]);
        Answer(std::make_shared<OrnUtil::CCommFd>(toChild[0], fromChild[1]));
        _exit(0);
    }
    close(toChild[0]);
    close(fromChild[1]);
    auto channel = std::make_shared<OrnUtil::CCommFd>(fromChild[0], toChild[1]);
    channel->Connect();
    Ask(channel, "pipe pair");
    channel->Disconnect(); // closes our output: the child's receive ends
    close(fromChild[0]);
    WaitFor(child);
}

void OverTcp() {
    // The library's TCP channel is a client; the tour listens with the plain socket calls.
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(listener);
        return;
    }
    const unsigned short port = ntohs(address.sin_port);
    std::cout << "  listening on 127.0.0.1:" << port << "\n";
    std::cout.flush();
    const pid_t child = fork();
    if (child == 0) {
        close(listener);
        Answer(std::make_shared<OrnUtil::CCommTCP>("127.0.0.1", port));
        _exit(0);
    }
    const int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    close(listener);
    auto channel = std::make_shared<OrnUtil::CCommTCP>(static_cast<unsigned int>(connection));
    Ask(channel, "TCP");
    channel->Disconnect();
    WaitFor(child);
}

void Cancelled() {
    int quiet[2];
    if (pipe2(quiet, O_CLOEXEC) != 0)
        return;
    OrnUtil::CCommFd channel(quiet[0], quiet[1]);
    channel.Connect();
    bool received = true;
    std::thread receiver([&] {
        char byte;
        received = channel.Recv(1, &byte); // nobody writes: it waits until cancelled
    });
    channel.CancelRecv();
    receiver.join();
    std::cout << "A receive on a silent pipe, cancelled from another thread, returns "
              << std::boolalpha << received << "\n";
    channel.Disconnect();
    close(quiet[0]);
}

} // namespace

void TourComm() {
    Section("Byte buffers, channels and framed messages");
    Buffer();
    std::cout << "Two processes exchange length-prefixed messages:\n";
    OverPipes();
    OverTcp();
    Cancelled();
}
