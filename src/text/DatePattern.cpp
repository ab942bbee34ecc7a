#include "text/DatePattern.h"

#include <charconv>
#include <cstring>

namespace OrnUtil::DateTime {

namespace {

// Characters of a pattern that, outside quotes, form runs; every other character is literal.
constexpr std::string_view DATE_PATTERN_LETTERS = "GyMdDFEhHmsSwWazZ";

struct Conversion {
    std::string_view run;
    std::string_view replacement;
};

// What each run becomes in the conversion format: a standard conversion ("%Y"), an unpadded number
// ("%0" and the field), a millisecond template ("00", "000") or fixed text. A run missing here is
// written as its letters.
constexpr Conversion PATTERN_CONVERSIONS[] = {
    {"G", "AD"},
    {"y", "%Y"},
    {"yy", "%y"},
    {"yyy", "%y"},
    {"yyyy", "%Y"},
    {"M", "%0m"},
    {"MM", "%m"},
    {"MMM", "%b"},
    {"MMMM", "%B"},
    {"d", "%0d"},
    {"dd", "%d"},
    {"D", "%j"},
    {"F", "Day of week of month not supported"},
    {"E", "%a"},
    {"EE", "%a"},
    {"EEE", "%a"},
    {"EEEE", "%A"},
    {"h", "%0I"},
    {"hh", "%I"},
    {"H", "%0H"},
    {"HH", "%H"},
    {"m", "%0M"},
    {"mm", "%M"},
    {"s", "%0s"},
    {"ss", "%S"},
    {"S", "%0S"},
    {"SS", "00"},
    {"SSS", "000"},
    {"w", "%V"},
    {"W", "Week in month not supported"},
    {"a", "%p"},
    {"z", "%Z"},
    {"zz", "%Z"},
    {"zzz", "%Z"},
    {"zzzz", "%Z"},
    {"Z", "%z"},
};

// Runs that a duration keeps as letters: it has no calendar date.
constexpr std::string_view DURATION_DATE_RUNS[] = {"y", "yy", "yyyy", "M", "MM", "d", "dd"};

struct Translation {
    std::string_view replacement;
    Kind kind = Kind::NONE;
    bool keptInDurations = false;
};

constexpr Kind KindOf(std::string_view replacement) {
    if (replacement == "00" || replacement == "000")
        return Kind::MILLISECONDS;
    if (replacement.size() > 2 && replacement.find("%0") != std::string_view::npos)
        return Kind::NUMBER;
    return Kind::TEXT;
}

// A run is always one letter repeated, so the table is indexed by letter and length, with the kind
// of each replacement worked out by the compiler.
constexpr size_t LONGEST_RUN = 4;
struct RunIndex {
    Translation of[128][LONGEST_RUN + 1] = {};
    constexpr RunIndex() {
        for (const Conversion& conversion : PATTERN_CONVERSIONS) {
            Translation& entry =
                of[static_cast<unsigned char>(conversion.run[0])][conversion.run.size()];
            entry.replacement = conversion.replacement;
            entry.kind = KindOf(conversion.replacement);
        }
        for (const std::string_view run : DURATION_DATE_RUNS)
            of[static_cast<unsigned char>(run[0])][run.size()].keptInDurations = true;
    }
};
constexpr RunIndex RUN_INDEX;

// The ISO C conversions, alone and behind the E and O modifiers.
constexpr std::string_view ISO_CONVERSIONS = "aAbBcCdDeFgGhHIjmMnprRStTuUVwWxXyYzZ%";
constexpr std::string_view E_CONVERSIONS = "cCxXyY";
constexpr std::string_view O_CONVERSIONS = "deHImMSuUVwWy";

// Every character of a pattern and of a format is classified; a table keeps that to one load.
enum CharClass : uint8_t {
    PATTERN_LETTER = 1,
    ISO_CONVERSION = 2,
    E_CONVERSION = 4,
    O_CONVERSION = 8,
};
struct CharClasses {
    uint8_t of[256] = {};
    constexpr CharClasses() {
        for (const char c : DATE_PATTERN_LETTERS)
            of[static_cast<unsigned char>(c)] |= PATTERN_LETTER;
        for (const char c : ISO_CONVERSIONS)
            of[static_cast<unsigned char>(c)] |= ISO_CONVERSION;
        for (const char c : E_CONVERSIONS)
            of[static_cast<unsigned char>(c)] |= E_CONVERSION;
        for (const char c : O_CONVERSIONS)
            of[static_cast<unsigned char>(c)] |= O_CONVERSION;
    }
};
constexpr CharClasses CHAR_CLASSES;

bool Is(CharClass charClass, char c) {
    return (CHAR_CLASSES.of[static_cast<unsigned char>(c)] & charClass) != 0;
}

// Writes `value` in decimal, padded with zeros on the left to `width` (at most 3); returns the
// length.
size_t WriteDigits(char* out, int64_t value, size_t width) {
    char digits[LONGEST_NUMBER];
    const size_t count =
        static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, value).ptr - digits);
    const size_t padding = count < width ? width - count : 0;
    std::memset(out, '0', padding);
    std::memcpy(out + padding, digits, count);
    return padding + count;
}

// The number that a "%0" replacement stands for, selected by the character behind the "0".
int64_t Field(char selector, const std::tm& tm, int64_t ms) {
    switch (selector) {
    case 'd':
        return tm.tm_mday;
    case 'm':
        return tm.tm_mon + 1;
    case 'H':
        return tm.tm_hour;
    case 'I': // h: users read it as the hour on a 12-hour clock face, 12 rather than 0
        return tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12;
    case 'M':
        return tm.tm_min;
    case 's':
        return tm.tm_sec;
    default:
        return ms;
    }
}

class CTranslator {
public:
    void Append(std::string_view text) { Text().append(text); }
    void Append(size_t count, char c) { Text().append(count, c); }
    void Append(char c) { Text() += c; }
    void AppendNumber(const Translation& translation) {
        m_Result.pieces.push_back(Piece{
            translation.kind, {}, {}, translation.replacement.size(), translation.replacement[2]});
        ++m_Result.numbers;
    }

    // Digits and minus signs follow a text piece, if anything: a "%" at its end starts nothing.
    Translated Finish() {
        for (Piece& piece : m_Result.pieces) {
            const std::string_view text = piece.text;
            for (size_t at = 0; at < text.size();) {
                const size_t conversion = ConversionAt(text, at);
                if (conversion == 0) {
                    if (text[at] == '%')
                        piece.cFormat += '%';
                    piece.cFormat += text[at++];
                    continue;
                }
                piece.cFormat.append(text.substr(at, conversion));
                ++m_Result.conversions;
                at += conversion;
            }
            m_Result.cFormatLength += piece.cFormat.size();
            m_Result.hasNul = m_Result.hasNul || text.find('\0') != std::string_view::npos;
        }
        return std::move(m_Result);
    }

private:
    std::string& Text() {
        if (m_Result.pieces.empty() || m_Result.pieces.back().kind != Kind::TEXT)
            m_Result.pieces.push_back(Piece{Kind::TEXT, {}, {}});
        return m_Result.pieces.back().text;
    }
    Translated m_Result;
};

void TranslateRun(char letter, size_t length, Mode mode, CTranslator& translator) {
    if (length == 0)
        return;
    const Translation none;
    const Translation& translation =
        length <= LONGEST_RUN ? RUN_INDEX.of[static_cast<unsigned char>(letter)][length] : none;
    if (translation.kind == Kind::NONE || (mode == Mode::DURATION && translation.keptInDurations))
        translator.Append(length, letter);
    else if (translation.kind == Kind::TEXT)
        translator.Append(translation.replacement);
    else
        translator.AppendNumber(translation);
}

} // namespace

size_t ConversionAt(std::string_view format, size_t at) {
    if (format[at] != '%' || at + 1 >= format.size())
        return 0;
    const char conversion = format[at + 1];
    if (Is(ISO_CONVERSION, conversion))
        return 2;
    if (at + 2 < format.size() && ((conversion == 'E' && Is(E_CONVERSION, format[at + 2])) ||
                                   (conversion == 'O' && Is(O_CONVERSION, format[at + 2]))))
        return 3;
    return 0;
}

// The pattern scanned into runs, quoted text and literals.
Translated Translate(std::string_view pattern, Mode mode) {
    CTranslator translator;
    char runLetter = '\0';
    size_t runLength = 0;
    bool quoted = false;
    char previous = '\0'; // a NUL in the pattern counts as no previous character
    const auto flush = [&] {
        TranslateRun(runLetter, runLength, mode, translator);
        runLength = 0;
    };
    for (const char c : pattern) {
        if (c == '\'') {
            if (previous == '\'')
                translator.Append('\'');
            if (!quoted)
                flush();
            quoted = !quoted;
        } else if (quoted) {
            translator.Append(c);
        } else if ((c == previous || previous == '\0') && Is(PATTERN_LETTER, c)) {
            runLetter = c;
            ++runLength;
        } else {
            flush();
            if (Is(PATTERN_LETTER, c)) {
                runLetter = c;
                runLength = 1;
            } else {
                translator.Append(c);
            }
        }
        previous = c;
    }
    flush();
    return translator.Finish();
}

size_t WriteNumber(char* out, const Piece& piece, const std::tm& tm, int64_t ms) {
    if (piece.kind == Kind::MILLISECONDS)
        return WriteDigits(out, ms, piece.width);
    return WriteDigits(out, Field(piece.selector, tm, ms), 0);
}

std::string Render(const Translated& translated, const std::tm& tm, int64_t ms) {
    std::string format;
    for (const Piece& piece : translated.pieces) {
        char digits[LONGEST_NUMBER];
        if (piece.kind == Kind::TEXT)
            format.append(piece.text);
        else
            format.append(digits, WriteNumber(digits, piece, tm, ms));
    }
    return format;
}

} // namespace OrnUtil::DateTime
