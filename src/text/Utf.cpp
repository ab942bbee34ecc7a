#include "platform/Iconv.h"

#include <OrnUtil/Text.h>
#include <algorithm>
#include <istream>
#include <memory>

namespace OrnUtil {

namespace {

// One iconv call into an area of four bytes per input byte, never grown: a text that needs more
// is cut off and reported as false, as the family's applications have always seen it. `store`
// replaces the caller's output, also after a stop.
template <typename Store>
bool Convert(const std::string& to, const std::string& from, const char* src, size_t len,
             Store store) {
    platform::CConverter converter(to, from);
    if (!converter.IsOpen())
        return false;
    const size_t size = 4 * len;
    // Left uninitialised: iconv writes what is read back, and clearing megabytes costs more than
    // converting them.
    std::unique_ptr<char[]> area(new char[size == 0 ? 1 : size]);
    // A null *inbuf asks iconv to reset its state instead of converting; an empty text is no such
    // request.
    const char* in = src != nullptr ? src : "";
    size_t inLeft = len;
    char* out = area.get();
    size_t outLeft = size;
    const bool whole = converter.Convert(in, inLeft, out, outLeft);
    store(area.get(), static_cast<size_t>(out - area.get()));
    return whole;
}

} // namespace

bool fromUTF8(const std::string& charset, const char* src, int32_t len, std::vector<char>& out) {
    if (len < 0)
        return false;
    return Convert(charset, "UTF-8", src, static_cast<size_t>(len),
                   [&out](const char* bytes, size_t count) { out.assign(bytes, bytes + count); });
}

bool toUTF8(const std::string& charset, const char* src, uint32_t len, std::string& out) {
    return Convert("UTF-8", charset, src, len,
                   [&out](const char* bytes, size_t count) { out.assign(bytes, count); });
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
