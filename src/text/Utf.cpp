#include "platform/Iconv.h"

#include <OrnUtil/Text.h>
#include <algorithm>
#include <cerrno>
#include <functional>
#include <istream>

namespace OrnUtil {

namespace {

// One iconv call straight into `out`, made `size` bytes long for it and cut to what the call
// produced, also after a stop. `full` tells whether the call stopped for want of room.
template <typename Buffer>
bool ConvertInto(platform::CConverter& converter, const char* src, size_t len, size_t size,
                 Buffer& out, bool& full) {
    out.resize(size);
    const char* in = src;
    size_t inLeft = len;
    char* const area = out.data();
    char* next = area;
    size_t outLeft = size;
    const bool whole = converter.Convert(in, inLeft, next, outLeft);
    full = !whole && errno == E2BIG;
    out.resize(static_cast<size_t>(next - area));
    return whole;
}

// Converts as one iconv call into four bytes per input byte would: a text that needs more is cut
// off and reported as false, as the family's applications have always seen it. Most texts need
// at most two bytes per byte, so that much is tried first; a text that needs more is converted
// again from its start with all the room, as one call that ran out of room may have lost the
// substitutions and skips it made.
template <typename Buffer>
bool Convert(const std::string& to, const std::string& from, const char* src, size_t len,
             Buffer& out) {
    // Input inside the output would be overwritten, or freed as the output grows.
    const std::less<const char*> before;
    if (len != 0 && !before(src, out.data()) && before(src, out.data() + out.capacity())) {
        const Buffer input(src, src + len);
        return Convert(to, from, input.data(), len, out);
    }
    platform::CConverter converter(to, from);
    if (!converter.IsOpen())
        return false;
    if (len == 0) {
        out.clear();
        return true;
    }
    const size_t most = 4 * len;
    // Room the output already has costs nothing to use; fresh room costs its zeroing.
    const size_t first = std::min(most, std::max(out.size(), 2 * len));
    bool full = false;
    const bool whole = ConvertInto(converter, src, len, first, out, full);
    if (!full || first == most)
        return whole;
    platform::CConverter again(to, from);
    return ConvertInto(again, src, len, most, out, full);
}

} // namespace

bool fromUTF8(const std::string& charset, const char* src, int32_t len, std::vector<char>& out) {
    if (len < 0)
        return false;
    return Convert(charset, "UTF-8", src, static_cast<size_t>(len), out);
}

bool toUTF8(const std::string& charset, const char* src, uint32_t len, std::string& out) {
    return Convert("UTF-8", charset, src, len, out);
}

} // namespace OrnUtil

namespace UTF {

namespace {

struct Mark {
    BOM bom;
    unsigned char bytes[4];
    std::streamsize size;
};

// The four-byte marks come first: FF FE 00 00 also starts with the UTF-16 little-endian mark.
constexpr Mark MARKS[] = {
    {BOM_UTF32LE, {0xFF, 0xFE, 0x00, 0x00}, 4},
    {BOM_UTF32BE, {0x00, 0x00, 0xFE, 0xFF}, 4},
    {BOM_UTF8, {0xEF, 0xBB, 0xBF}, 3},
    {BOM_UTF16BE, {0xFE, 0xFF}, 2},
    {BOM_UTF16LE, {0xFF, 0xFE}, 2},
};

} // namespace

BOM GetBOM(std::istream& stream) {
    unsigned char head[4] = {};
    stream.read(reinterpret_cast<char*>(head), sizeof head);
    const std::streamsize got = stream.gcount();
    for (const Mark& mark : MARKS) {
        if (got < mark.size || !std::equal(mark.bytes, mark.bytes + mark.size, head))
            continue;
        // The four-byte marks leave the stream where the read did.
        if (mark.size < 4)
            stream.seekg(std::streampos(mark.size));
        return mark.bom;
    }
    stream.seekg(std::streampos(0));
    return BOM_NONE;
}

} // namespace UTF
