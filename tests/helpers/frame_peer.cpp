// A second process that talks in length-prefixed messages: it answers every message it receives
// with "echo:" and the message's text, until its channel ends.
//   frame_peer stdio        on its standard input and output
//   frame_peer tcp PORT     on a TCP connection to 127.0.0.1:PORT
// It exits with the number of messages answered.
#include <OrnUtil/Comm.h>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

int main(int argc, char** argv) {
    std::shared_ptr<OrnUtil::CComm> channel;
    if (argc == 2 && std::strcmp(argv[1], "stdio") == 0)
        channel = std::make_shared<OrnUtil::CCommSTDIO>();
    else if (argc == 3 && std::strcmp(argv[1], "tcp") == 0)
        channel = std::make_shared<OrnUtil::CCommTCP>(
            "127.0.0.1", static_cast<unsigned short>(std::atoi(argv[2])));
    else
        return 100;
    if (!channel->Connect())
        return 101;
    CCommBufBinIn in(channel);
    CCommBufBinOut out(channel);
    int answered = 0;
    while (in.Recv()) {
        const std::string text = "echo:" + std::string(in.ReadPtr());
        out.PutN(text.data(), static_cast<int32_t>(text.size()));
        if (!out.Send())
            return 102;
        ++answered;
    }
    return answered;
}
