// Arbitrary bytes into both conversions and into GetBOM. Outputs stay within four bytes per input
// byte, a text that UTF-16 carried whole comes back unchanged, and GetBOM leaves the stream where
// its mark ends.
#include <OrnUtil/Text.h>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* const CHARSETS[] = {
    "ISO-8859-1",      "UTF-16LE",  "UTF-16",      "UTF-32",          "UTF-7",
    "CP1252",          "SHIFT_JIS", "ISO-2022-JP", "ASCII//TRANSLIT", "ISO-8859-1//IGNORE",
    "NO-SUCH-CHARSET",
};

void CheckBom(const std::string& bytes) {
    std::istringstream stream(bytes);
    const UTF::BOM bom = UTF::GetBOM(stream);
    static const int MARK_SIZE[] = {0, 3, 2, 2, 4, 4};
    if (bom < UTF::BOM_NONE || bom > UTF::BOM_UTF32BE)
        std::abort();
    if (bytes.size() >= 4 && stream.tellg() != MARK_SIZE[bom])
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const std::string charset = CHARSETS[data[0] % (sizeof CHARSETS / sizeof *CHARSETS)];
    const char* text = reinterpret_cast<const char*>(data) + 1;
    const size_t length = size - 1;

    std::vector<char> encoded;
    OrnUtil::fromUTF8(charset, text, static_cast<int32_t>(length), encoded);
    std::string decoded;
    OrnUtil::toUTF8(charset, text, static_cast<uint32_t>(length), decoded);
    if (encoded.size() > 4 * length || decoded.size() > 4 * length)
        std::abort();

    std::vector<char> utf16;
    if (OrnUtil::fromUTF8("UTF-16LE", text, static_cast<int32_t>(length), utf16)) {
        std::string back;
        if (!OrnUtil::toUTF8("UTF-16LE", utf16.data(), static_cast<uint32_t>(utf16.size()), back) ||
            back != std::string(text, length))
            std::abort();
    }

    CheckBom(std::string(text, length));
    return 0;
}
