// Arbitrary bytes into both conversions and into GetBOM. Outputs stay within four bytes per input
// byte, a text that UTF-16 carried whole comes back unchanged, and GetBOM leaves the stream where
// its mark ends.
#include "FuzzSupport.h"

#include <OrnUtil/Text.h>
#include <sstream>
#include <vector>

using fuzz::Require;

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
    Require(bom >= UTF::BOM_NONE && bom <= UTF::BOM_UTF32BE);
    Require(bytes.size() < 4 || stream.tellg() == MARK_SIZE[bom]);
}

} // namespace

FUZZ_TARGET(input) {
    if (input.empty())
        return;
    const auto selector = static_cast<unsigned char>(input[0]);
    const std::string charset = CHARSETS[selector % (sizeof CHARSETS / sizeof *CHARSETS)];
    const char* text = input.data() + 1;
    const size_t length = input.size() - 1;

    std::vector<char> encoded;
    OrnUtil::fromUTF8(charset, text, static_cast<int32_t>(length), encoded);
    std::string decoded;
    OrnUtil::toUTF8(charset, text, static_cast<uint32_t>(length), decoded);
    Require(encoded.size() <= 4 * length && decoded.size() <= 4 * length);

    std::vector<char> utf16;
    if (OrnUtil::fromUTF8("UTF-16LE", text, static_cast<int32_t>(length), utf16)) {
        std::string back;
        Require(
            OrnUtil::toUTF8("UTF-16LE", utf16.data(), static_cast<uint32_t>(utf16.size()), back) &&
            back == std::string(text, length));
    }

    CheckBom(std::string(text, length));
}
