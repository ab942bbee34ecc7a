// A second process that talks in length-prefixed messages on its standard streams: it answers
// every message with "echo:" and the message's text until its input ends, and exits with the
// number of messages answered.
#include <OrnUtil/Comm.h>
#include <memory>
#include <string>

int main() {
    auto channel = std::make_shared<OrnUtil::CCommSTDIO>();
    if (!channel->Connect())
        return 100;
    CCommBufBinIn in(channel);
    CCommBufBinOut out(channel);
    int answered = 0;
    while (in.Recv()) {
        const std::string text = "echo:" + std::string(in.ReadPtr());
        out.PutN(text.data(), static_cast<int32_t>(text.size()));
        if (!out.Send())
            return 101;
        ++answered;
    }
    return answered;
}
