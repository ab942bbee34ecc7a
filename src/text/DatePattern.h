// A letter pattern of FormatDate and FormatDuration translated into the standard time-conversion
// format ("yyyy-MM-dd" into "%Y-%m-%d") as far as that goes without a time: the unpadded numbers
// and the milliseconds are left as places to write them in. Compiled once, so that the numbers of
// the C locale need no strftime to parse the format on every call.
#pragma once

#include "internal/Digits.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace OrnUtil::DateTime {

// Durations keep their date runs (y, yy, yyyy, M, MM, d, dd) as letters.
enum class Mode { DATE, DURATION };

// How a run is written: as its letters (NONE), as its replacement (fixed text and standard
// conversions), or as a number chosen by the character behind its "%0" ("%0d", the milliseconds).
// Translation splits the text into literal TEXT and standard CONVERSIONs.
enum class Kind : uint8_t { NONE, TEXT, CONVERSION, NUMBER };

// The numbers of a time that a piece may stand for.
enum class Field : uint8_t {
    NONE,
    YEAR,
    YEAR_OF_CENTURY,
    DAY_OF_YEAR,
    MONTH,
    DAY,
    HOUR,
    HOUR_OF_HALF_DAY, // 1 to 12
    MINUTE,
    SECOND,
    MILLISECOND,
    OFFSET, // from UTC, as hours and minutes ("0200")
    COUNT
};

// A piece of a translated pattern: literal text, a standard conversion, or the place of a number.
struct Piece {
    Kind kind;
    std::string text;          // TEXT as written, a CONVERSION as strftime takes it ("%Y", "%Ey")
    Field field = Field::NONE; // of a NUMBER, and of a CONVERSION that is a number in the C locale
    size_t width = 0;          // the field's least number of digits
    // A character of text behind a number, written with it: one piece less to choose.
    char after = '\0';
    size_t afterLength = 0;
};

// All the numbers of one time, worked out at once: choosing each on its own costs a jump that the
// processor mispredicts. None has more than four digits, as years end at 3001 and offsets within
// a day.
struct Numbers {
    explicit Numbers(const std::tm& tm, int64_t ms);
    uint32_t of[static_cast<size_t>(Field::COUNT)];
    bool west; // of UTC
};

struct Translated {
    std::vector<Piece> pieces;
    size_t longest = 0; // the longest text the C locale can make of it
};

// The longest text of a number: 19 digits and a sign.
constexpr size_t LONGEST_NUMBER = 20;

// The longest text of a standard conversion and its NUL: the time_put facet formats each into
// 128 bytes.
constexpr size_t LONGEST_CONVERSION = 128;

Translated Translate(std::string_view pattern, Mode mode);

// Writes the number of a piece with a field, and the character behind it; returns their length.
// Up to four bytes behind them may be overwritten.
inline size_t WriteNumber(char* out, const Piece& piece, const Numbers& numbers) {
    const size_t field = static_cast<size_t>(piece.field);
    const uint32_t value = numbers.of[field];
    const size_t sign = piece.field == Field::OFFSET ? 1 : 0;
    out[0] = numbers.west ? '-' : '+';
    const size_t count = 1 + (value >= 10) + (value >= 100) + (value >= 1000);
    const size_t length = std::max(count, piece.width);
    // Four digits made in a register and stored at once, the leading ones shifted out: digits
    // stored one by one and read back as one text stall the processor.
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the first digit is the lowest byte");
    uint16_t high = 0;
    uint16_t low = 0;
    std::memcpy(&high, internal::DIGIT_PAIRS.of + 2 * std::min(value / 100, 99u), 2);
    std::memcpy(&low, internal::DIGIT_PAIRS.of + 2 * (value % 100), 2);
    const uint32_t digits = (uint32_t{low} << 16 | high) >> (8 * (4 - length));
    std::memcpy(out + sign, &digits, 4);
    out[sign + length] = piece.after;
    return sign + length + piece.afterLength;
}

// The format with the NUMBER pieces written in.
std::string Render(const Translated& translated, const std::tm& tm, int64_t ms);

// The length of the ISO C conversion that starts at format[at] ("%Y" 2, "%Ey" 3), 0 for none.
size_t ConversionAt(std::string_view format, size_t at);

} // namespace OrnUtil::DateTime
