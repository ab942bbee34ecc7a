// A log line's text, read and appended in place in its string buffer.
#pragma once

#include <cstring>
#include <ostream>
#include <streambuf>
#include <utility>

namespace OrnUtil::internal {

// A derived class may name the put-area members of any buffer. ostream::write builds a sentry and
// makes a virtual call for every piece, which costs more than a line's header itself.
struct LineBuffer : std::streambuf {
    // Appends as line.write(text, size) does.
    static void Append(std::ostream& line, const char* text, size_t size) {
        std::streambuf* buffer = line.rdbuf();
        if (line.rdstate() == 0 && line.tie() == nullptr && buffer != nullptr) {
            char* next = (buffer->*&LineBuffer::pptr)();
            if (static_cast<size_t>((buffer->*&LineBuffer::epptr)() - next) >= size) {
                std::memcpy(next, text, size);
                (buffer->*&LineBuffer::pbump)(static_cast<int>(size));
                return;
            }
        }
        line.write(text, static_cast<std::streamsize>(size));
    }

    // The text written so far; str() would copy it once more.
    static std::pair<const char*, size_t> Text(std::streambuf& buffer) {
        const char* begin = (buffer.*&LineBuffer::pbase)();
        const char* end = (buffer.*&LineBuffer::pptr)();
        return {begin, static_cast<size_t>(end - begin)};
    }
};

} // namespace OrnUtil::internal
