// A letter pattern of FormatDate and FormatDuration translated into the standard time-conversion
// format ("yyyy-MM-dd" into "%Y-%m-%d") as far as that goes without a time: the unpadded numbers
// and the milliseconds are left as places to write them in.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace OrnUtil::DateTime {

// Durations keep their date runs (y, yy, yyyy, M, MM, d, dd) as letters.
enum class Mode { DATE, DURATION };

// How a run is written: as its letters (NONE), as its replacement (a standard conversion or fixed
// text), as the milliseconds over a template of zeros, or as an unpadded number chosen by the
// character behind its "%0".
enum class Kind : uint8_t { NONE, TEXT, MILLISECONDS, NUMBER };

// A piece of a translated pattern: format text, or the place of a number.
struct Piece {
    Kind kind;
    std::string text;    // TEXT: as the format holds it
    std::string cFormat; // TEXT: as strftime takes it, every "%" that starts no conversion escaped
    size_t width = 0;    // MILLISECONDS: the template's width
    char selector = 0;   // NUMBER
};

struct Translated {
    std::vector<Piece> pieces;
    size_t conversions = 0;   // in all the C formats together
    size_t cFormatLength = 0; // of all the C formats together
    size_t numbers = 0;       // pieces that are not text
    bool hasNul = false;      // strftime would stop at it
};

// The longest text of a number: 19 digits and a sign.
constexpr size_t LONGEST_NUMBER = 20;

Translated Translate(std::string_view pattern, Mode mode);

// Writes the number a piece that is not text stands for; returns its length.
size_t WriteNumber(char* out, const Piece& piece, const std::tm& tm, int64_t ms);

// The format with the time's numbers written in.
std::string Render(const Translated& translated, const std::tm& tm, int64_t ms);

// The length of the ISO C conversion that starts at format[at] ("%Y" 2, "%Ey" 3), 0 for none.
size_t ConversionAt(std::string_view format, size_t at);

} // namespace OrnUtil::DateTime
