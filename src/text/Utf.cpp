#include "platform/Iconv.h"

#include <OrnUtil/Text.h>
#include <algorithm>
#include <istream>
#include <memory>

namespace OrnUtil {

namespace {

// Each thread keeps its output area for the next conversion, up to the size for a text of 1 MiB:
// for a text of megabytes, fresh memory costs a tenth of the conversion in page faults and cache
// misses. Larger areas are given back at once.
constexpr size_t AREA_KEPT = 4 << 20;

struct CKeptArea {
    std::unique_ptr<char[]> m_Data;
    size_t m_Size = 0;
};
thread_local CKeptArea keptArea;

// An output area of `size` bytes, the thread's own or, when larger than is kept, `fresh`.
char* OutputArea(size_t size, std::unique_ptr<char[]>& fresh) {
    if (size <= keptArea.m_Size)
        return keptArea.m_Data.get();
    if (size > AREA_KEPT) {
        fresh.reset(new char[size]);
        return fresh.get();
    }
    keptArea.m_Data.reset(new char[size]);
    keptArea.m_Size = size;
    return keptArea.m_Data.get();
}

// One iconv call into an area of four bytes per input byte, never grown: a text that needs more
// is cut off and reported as false, as the family's applications have always seen it. `out` is
// replaced by what the call produced, also after a stop.
template <typename Buffer>
bool Convert(const std::string& to, const std::string& from, const char* src, size_t len,
             Buffer& out) {
    platform::CConverter converter(to, from);
    if (!converter.IsOpen())
        return false;
    std::unique_ptr<char[]> fresh;
    char none = '\0';
    // Neither side may be a null pointer: a null input asks iconv to reset its state instead.
    char* const area = len == 0 ? &none : OutputArea(4 * len, fresh);
    const char* in = src != nullptr ? src : &none;
    size_t inLeft = len;
    char* next = area;
    size_t outLeft = 4 * len;
    const bool whole = converter.Convert(in, inLeft, next, outLeft);
    out.assign(area, next);
    return whole;
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
