#include <OrnUtil/Log.h>
#include <array>
#include <cstring>
#include <ostream>

namespace OrnUtil {

namespace {

constexpr unsigned int WIDTH = 16;
constexpr unsigned int LONGEST_LINE = 87; // with an eight-digit offset
constexpr unsigned int CHUNK_LINES = 48;  // formatted on the stack between writes

const unsigned char* Bytes(const std::string& bytes) {
    return reinterpret_cast<const unsigned char*>(bytes.data());
}

// A cell ("4F" and two blanks, the second overwritten by the next cell) and the character shown
// for each byte value.
constexpr std::array<char, 4 * 256> CELLS = [] {
    std::array<char, 4 * 256> cells{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        cells[4 * byte] = "0123456789ABCDEF"[byte >> 4];
        cells[4 * byte + 1] = "0123456789ABCDEF"[byte & 15];
        cells[4 * byte + 2] = cells[4 * byte + 3] = ' ';
    }
    return cells;
}();
constexpr std::array<char, 256> SHOWN = [] {
    std::array<char, 256> shown{};
    for (unsigned byte = 0; byte < 256; ++byte)
        shown[byte] = byte >= 32 && byte <= 126 ? static_cast<char>(byte) : '.';
    return shown;
}();

// One line: "\n| 0000 | ", sixteen cells, " | ", sixteen characters, " |". Offsets of 0x10000 and
// more take more than four digits; the head then grows and pushes the columns right rather than
// letting the cells overwrite it.
char* FormatLine(char* out, const unsigned char* bytes, unsigned int count, unsigned int offset) {
    std::memcpy(out, "\n| ", 3);
    out += 3;
    int digits = 4;
    while (digits < 8 && (offset >> (4 * digits)) != 0)
        ++digits;
    for (int digit = digits - 1; digit >= 0; --digit)
        *out++ = "0123456789ABCDEF"[(offset >> (4 * digit)) & 15];
    std::memcpy(out, " | ", 3);
    out += 3;
    char* text = out + 3 * WIDTH + 3;
    if (count < WIDTH)
        std::memset(out, ' ', 3 * WIDTH + 3 + WIDTH);
    for (unsigned int i = 0; i < count; ++i) {
        std::memcpy(out + 3 * i, &CELLS[4 * bytes[i]], 4);
        text[i] = SHOWN[bytes[i]];
    }
    std::memcpy(out + 3 * WIDTH, " | ", 3);
    std::memcpy(text + WIDTH, " |", 2);
    return text + WIDTH + 2;
}

// Hands the dump of `length` bytes to `sink` a chunk of lines at a time: one write per chunk costs
// far less than one per line.
template <typename Sink>
void Dump(const unsigned char* bytes, unsigned int length, Sink sink) {
    char chunk[CHUNK_LINES * LONGEST_LINE];
    char* end = chunk;
    for (unsigned int offset = 0; offset < length; offset += WIDTH) {
        if (end + LONGEST_LINE > chunk + sizeof chunk) {
            sink(chunk, static_cast<size_t>(end - chunk));
            end = chunk;
        }
        const unsigned int count = length - offset < WIDTH ? length - offset : WIDTH;
        end = FormatLine(end, bytes + offset, count, offset);
    }
    if (end != chunk)
        sink(chunk, static_cast<size_t>(end - chunk));
}

} // namespace

CHex::CHex(const void* data, unsigned int length) {
    Stream(data, length);
}

CHex::~CHex() = default;

// Most dumps are made, streamed once and dropped: the bytes wait, and their lines go straight into
// the stream they are written to.
void CHex::Stream(const void* data, unsigned int length) {
    const unsigned char* last = m_Length <= sizeof m_Small ? m_Small : Bytes(m_Bytes);
    Dump(last, m_Length, [this](const char* text, size_t size) { m_Text.append(text, size); });
    m_Length = length;
    if (length <= sizeof m_Small)
        std::memcpy(m_Small, data, length);
    else
        m_Bytes.assign(static_cast<const char*>(data), length);
}

std::ostream& CHex::Get(std::ostream& os) const {
    os.write(m_Text.data(), static_cast<std::streamsize>(m_Text.size()));
    const unsigned char* last = m_Length <= sizeof m_Small ? m_Small : Bytes(m_Bytes);
    Dump(last, m_Length, [&os](const char* text, size_t size) {
        os.write(text, static_cast<std::streamsize>(size));
    });
    return os;
}

std::ostream& operator<<(std::ostream& os, const CHex& hex) {
    return hex.Get(os);
}

} // namespace OrnUtil
