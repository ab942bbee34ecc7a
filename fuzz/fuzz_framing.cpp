// Arbitrary bytes on a real descriptor, read as length-prefixed messages: every message must come
// out as its payload and a NUL, or as the "{}" placeholder, and the stream must be consumed exactly
// as the prefixes say.
#include "FuzzSupport.h"

#include <OrnUtil/Comm.h>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

constexpr size_t CAPACITY = 512000;
// What a pipe holds without a reader, so that the whole input is written before the first read.
constexpr size_t PIPE_BYTES = 65536;

} // namespace

using fuzz::Require;

FUZZ_TARGET(input) {
    const size_t size = std::min(input.size(), PIPE_BYTES);
    const char* const data = input.data();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return;
    Require(write(fds[1], data, size) == static_cast<ssize_t>(size));
    close(fds[1]);

    auto channel = std::make_shared<OrnUtil::CCommFd>(fds[0], -1);
    Require(channel->Connect());
    CCommBufBinIn in(channel);
    size_t offset = 0;
    while (in.Recv()) {
        Require(offset + 4 <= size);
        uint32_t length;
        std::memcpy(&length, data + offset, 4);
        offset += 4;
        const auto readable = static_cast<size_t>(in.OutAvail());
        const char* message = in.ReadPtr();
        if (length < CAPACITY && length <= size - offset) {
            Require(readable == length + 1);
            Require(std::memcmp(message, data + offset, length) == 0 && message[length] == '\0');
            offset += length;
        } else {
            // Drained up to the end of the input, which is shorter than the message.
            Require(readable == 3 && std::memcmp(message, "{}", 3) == 0);
            offset = size;
        }
    }
    Require(size - offset < 4);
    close(fds[0]);
}
