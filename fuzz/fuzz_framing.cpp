// Arbitrary bytes on a real descriptor, read as length-prefixed messages: every message must come
// out as its payload and a NUL, or as the "{}" placeholder, and the stream must be consumed exactly
// as the prefixes say.
#include <OrnUtil/Comm.h>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

constexpr size_t CAPACITY = 512000;
// What a pipe holds without a reader, so that the whole input is written before the first read.
constexpr size_t PIPE_BYTES = 65536;

void Check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size = std::min(size, PIPE_BYTES);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return 0;
    Check(write(fds[1], data, size) == static_cast<ssize_t>(size));
    close(fds[1]);

    auto channel = std::make_shared<OrnUtil::CCommFd>(fds[0], -1);
    Check(channel->Connect());
    CCommBufBinIn in(channel);
    size_t offset = 0;
    while (in.Recv()) {
        Check(offset + 4 <= size);
        uint32_t length;
        std::memcpy(&length, data + offset, 4);
        offset += 4;
        const auto readable = static_cast<size_t>(in.OutAvail());
        const char* message = in.ReadPtr();
        if (length < CAPACITY && length <= size - offset) {
            Check(readable == length + 1);
            Check(std::memcmp(message, data + offset, length) == 0 && message[length] == '\0');
            offset += length;
        } else {
            // Drained up to the end of the input, which is shorter than the message.
            Check(readable == 3 && std::memcmp(message, "{}", 3) == 0);
            offset = size;
        }
    }
    Check(size - offset < 4);
    close(fds[0]);
    return 0;
}
