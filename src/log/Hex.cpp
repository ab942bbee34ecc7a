#include <OrnUtil/Log.h>
#include <cstdio>
#include <ostream>

namespace OrnUtil {

CHex::CHex(const void* data, unsigned int length) {
    Stream(data, length);
}

CHex::~CHex() = default;

void CHex::Stream(const void* data, unsigned int length) {
    static const char DIGITS[] = "0123456789ABCDEF";
    const auto* bytes = static_cast<const unsigned char*>(data);
    // Offsets of 0x10000 and more take more than four digits; the head then grows and pushes the
    // columns right rather than letting the cells overwrite it.
    char line[32 + 4 * WIDTH];
    for (unsigned int offset = 0; offset < length; offset += WIDTH) {
        int head = std::snprintf(line, sizeof line, "\n| %04X | ", offset);
        char* cells = line + head;
        char* text = cells + 3 * WIDTH + SEP;
        for (unsigned int i = 0; i < WIDTH; ++i) {
            const bool present = offset + i < length;
            const unsigned char byte = present ? bytes[offset + i] : 0;
            cells[3 * i] = present ? DIGITS[byte >> 4] : ' ';
            cells[3 * i + 1] = present ? DIGITS[byte & 0xF] : ' ';
            cells[3 * i + 2] = ' ';
            text[i] = !present ? ' ' : (byte >= 32 && byte <= 126) ? static_cast<char>(byte) : '.';
        }
        cells[3 * WIDTH] = ' ';
        cells[3 * WIDTH + 1] = '|';
        cells[3 * WIDTH + 2] = ' ';
        text[WIDTH] = ' ';
        text[WIDTH + 1] = '|';
        m_Stream.write(line, text + WIDTH + 2 - line);
    }
}

std::ostream& CHex::Get(std::ostream& os) const {
    return os << m_Stream.str();
}

std::ostream& operator<<(std::ostream& os, const CHex& hex) {
    return hex.Get(os);
}

} // namespace OrnUtil
