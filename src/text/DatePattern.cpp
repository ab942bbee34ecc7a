#include "text/DatePattern.h"

#include <cstdlib>

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
    Field field = Field::NONE; // of a NUMBER, with its width
    size_t width = 0;
    bool keptInDurations = false;
};

constexpr bool IsMilliseconds(std::string_view replacement) {
    return replacement == "00" || replacement == "000";
}

// The field of a "%0" replacement, by the character behind the "0".
constexpr Field FieldOf(char selector) {
    switch (selector) {
    case 'd':
        return Field::DAY;
    case 'm':
        return Field::MONTH;
    case 'H':
        return Field::HOUR;
    case 'I': // h: users read it as the hour on a 12-hour clock face, 12 rather than 0
        return Field::HOUR_OF_HALF_DAY;
    case 'M':
        return Field::MINUTE;
    case 's':
        return Field::SECOND;
    default:
        return Field::MILLISECOND;
    }
}

constexpr Kind KindOf(std::string_view replacement) {
    if (IsMilliseconds(replacement) ||
        (replacement.size() > 2 && replacement.find("%0") != std::string_view::npos))
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
            // The milliseconds are padded to their template; "%0" numbers are not padded.
            if (IsMilliseconds(conversion.replacement)) {
                entry.field = Field::MILLISECOND;
                entry.width = conversion.replacement.size();
            } else if (entry.kind == Kind::NUMBER) {
                entry.field = FieldOf(conversion.replacement[2]);
            }
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

// The conversions whose text in the C locale is a field's number, written without strftime there,
// and the field's least number of digits.
struct NumericConversion {
    char conversion;
    Field field;
    size_t width;
};
constexpr NumericConversion NUMERIC_CONVERSIONS[] = {
    {'Y', Field::YEAR, 4},
    {'y', Field::YEAR_OF_CENTURY, 2},
    {'j', Field::DAY_OF_YEAR, 3},
    {'m', Field::MONTH, 2},
    {'d', Field::DAY, 2},
    {'H', Field::HOUR, 2},
    {'I', Field::HOUR_OF_HALF_DAY, 2},
    {'M', Field::MINUTE, 2},
    {'S', Field::SECOND, 2},
    {'z', Field::OFFSET, 4},
};

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

class CTranslator {
public:
    void Append(std::string_view text) { Text().append(text); }
    void Append(size_t count, char c) { Text().append(count, c); }
    void Append(char c) { Text() += c; }
    void AppendNumber(const Translation& translation) {
        m_Pieces.push_back(Piece{Kind::NUMBER, {}, translation.field, translation.width});
    }

    // The text pieces split at their conversions. Digits follow a text piece, if anything: a "%"
    // at its end starts nothing.
    Translated Finish() {
        Translated result;
        for (Piece& piece : m_Pieces) {
            if (piece.kind == Kind::TEXT)
                Split(piece.text, result);
            else
                Add(std::move(piece), result);
        }
        return result;
    }

private:
    std::string& Text() {
        if (m_Pieces.empty() || m_Pieces.back().kind != Kind::TEXT)
            m_Pieces.push_back(Piece{Kind::TEXT, {}});
        return m_Pieces.back().text;
    }

    static void Split(std::string_view text, Translated& result) {
        size_t literal = 0;
        for (size_t at = 0; at < text.size();) {
            const size_t length = ConversionAt(text, at);
            if (length == 0) {
                ++at;
                continue;
            }
            Add(Piece{Kind::TEXT, std::string(text.substr(literal, at - literal))}, result);
            Add(Conversion(text.substr(at, length)), result);
            at += length;
            literal = at;
        }
        Add(Piece{Kind::TEXT, std::string(text.substr(literal))}, result);
    }

    static Piece Conversion(std::string_view text) {
        Piece piece{Kind::CONVERSION, std::string(text)};
        for (const NumericConversion& numeric : NUMERIC_CONVERSIONS) {
            if (text.size() == 2 && text[1] == numeric.conversion) {
                piece.field = numeric.field;
                piece.width = numeric.width;
            }
        }
        return piece;
    }

    static void Add(Piece piece, Translated& result) {
        if (piece.kind == Kind::TEXT && piece.text.empty())
            return;
        if (piece.kind == Kind::TEXT && piece.text.size() == 1 && !result.pieces.empty() &&
            result.pieces.back().field != Field::NONE && result.pieces.back().afterLength == 0) {
            result.pieces.back().after = piece.text[0];
            result.pieces.back().afterLength = 1;
            return; // LONGEST_NUMBER leaves room for it
        }
        result.longest += piece.kind == Kind::TEXT     ? piece.text.size()
                          : piece.field != Field::NONE ? LONGEST_NUMBER
                                                       : LONGEST_CONVERSION;
        result.pieces.push_back(std::move(piece));
    }

    std::vector<Piece> m_Pieces;
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

Numbers::Numbers(const std::tm& tm, int64_t ms) : of{}, west(tm.tm_gmtoff < 0) {
    const auto set = [this](Field field, long value) {
        of[static_cast<size_t>(field)] = static_cast<uint32_t>(value);
    };
    set(Field::YEAR, tm.tm_year + 1900L);
    set(Field::YEAR_OF_CENTURY, tm.tm_year % 100); // no year before 1969 is written
    set(Field::DAY_OF_YEAR, tm.tm_yday + 1);
    set(Field::MONTH, tm.tm_mon + 1);
    set(Field::DAY, tm.tm_mday);
    set(Field::HOUR, tm.tm_hour);
    set(Field::HOUR_OF_HALF_DAY, tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12);
    set(Field::MINUTE, tm.tm_min);
    set(Field::SECOND, tm.tm_sec);
    set(Field::MILLISECOND, static_cast<long>(ms));
    // As strftime writes it: the sign of the whole offset, then its hours and minutes.
    const long minutes = std::labs(tm.tm_gmtoff) / 60;
    set(Field::OFFSET, minutes / 60 * 100 + minutes % 60);
}

std::string Render(const Translated& translated, const std::tm& tm, int64_t ms) {
    const Numbers numbers(tm, ms);
    std::string format;
    for (const Piece& piece : translated.pieces) {
        char digits[LONGEST_NUMBER];
        if (piece.kind == Kind::NUMBER)
            format.append(digits, WriteNumber(digits, piece, numbers));
        else
            format.append(piece.text).append(&piece.after, piece.afterLength);
    }
    return format;
}

} // namespace OrnUtil::DateTime
