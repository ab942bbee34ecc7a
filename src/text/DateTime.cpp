#include "platform/Calendar.h"
#include "text/DateFormat.h"

#include <OrnUtil/Text.h>
#include <charconv>
#include <cstring>
#include <iterator>
#include <memory>
#include <sstream>
#include <vector>

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

// How a run is written: as its letters (no entry), as its replacement (a standard conversion or
// fixed text), as the milliseconds over a template of zeros, or as an unpadded number chosen by the
// character behind its "%0".
enum class Kind : uint8_t { NONE, TEXT, MILLISECONDS, NUMBER };

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

constexpr std::string_view DEFAULT_DATE_PATTERN = "yyyy-MM-dd'T'HH:mm:ss'.'SSSZ";
constexpr std::string_view DEFAULT_DURATION_PATTERN = "'P'yyyy-MM-dd'T'HH:mm:ss'.'SSS";

// 3000-12-31T23:59:59.999 UTC, the last time the family's Windows builds could break down.
constexpr int64_t LATEST_TIME = 32535215999999;

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

// The longest text of a number: 19 digits and a sign.
constexpr size_t LONGEST_NUMBER = 20;

// Writes `value` in decimal, padded with zeros on the left to `width` (at most 3); returns the
// length.
size_t WriteNumber(char* out, int64_t value, size_t width) {
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

// The length of the ISO C conversion that starts at format[at] ("%Y" 2, "%Ey" 3), 0 for none.
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

// A piece of a translated pattern: format text, or the place of the milliseconds or of an
// unpadded number.
struct Piece {
    Kind kind;
    std::string text;    // TEXT: as the format holds it
    std::string cFormat; // TEXT: as strftime takes it, every "%" that starts no conversion escaped
    size_t width = 0;    // MILLISECONDS: the template's width
    char selector = 0;   // NUMBER
};

// A pattern translated as far as it goes without a time.
struct Translated {
    std::vector<Piece> pieces;
    size_t conversions = 0;   // in all the C formats together
    size_t cFormatLength = 0; // of all the C formats together
    size_t numbers = 0;       // pieces that are not text
    bool hasNul = false;      // strftime would stop at it
};

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

// Stage 1 up to the time: the pattern scanned into runs, quoted text and literals.
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

// The rest of stage 1: the format with the time's numbers in it.
std::string Render(const Translated& translated, const std::tm& tm, int64_t ms) {
    std::string format;
    for (const Piece& piece : translated.pieces) {
        char digits[LONGEST_NUMBER];
        if (piece.kind == Kind::TEXT)
            format.append(piece.text);
        else if (piece.kind == Kind::MILLISECONDS)
            format.append(digits, WriteNumber(digits, ms, piece.width));
        else
            format.append(digits, WriteNumber(digits, Field(piece.selector, tm, ms), 0));
    }
    return format;
}

// Space for a format or a text on the stack, or on the heap when it is larger.
class CScratch {
public:
    explicit CScratch(size_t size) : m_Data(m_Stack) {
        if (size > sizeof m_Stack) {
            m_Heap.reset(new char[size]);
            m_Data = m_Heap.get();
        }
    }
    char* Data() { return m_Data; }

private:
    char m_Stack[2048]; // the default pattern asks for 920
    std::unique_ptr<char[]> m_Heap;
    char* m_Data;
};

// The classic locale's time_put facet formats each conversion with strftime_l in the C locale
// into 128 bytes. So does this shortcut, for a whole format in one call.
class CClassicTime {
public:
    CClassicTime() : m_Locale(newlocale(LC_ALL_MASK, "C", locale_t())) {}
    ~CClassicTime() {
        if (m_Locale != locale_t())
            freelocale(m_Locale);
    }
    CClassicTime(const CClassicTime&) = delete;
    CClassicTime& operator=(const CClassicTime&) = delete;

    // False where the facet itself must run: another global locale, no C locale to be had, or a
    // zone name too long for the facet's buffer.
    bool Usable(const std::tm& tm) const {
        return m_Locale != locale_t() && std::locale() == std::locale::classic() &&
               (tm.tm_zone == nullptr || strnlen(tm.tm_zone, 128) < 128);
    }

    // `format` applied to `tm`.
    std::string Apply(std::string_view format, const std::tm& tm) const;

    // A translated pattern applied to `tm` and `ms`.
    std::string Apply(const Translated& translated, const std::tm& tm, int64_t ms) const;

private:
    // Appends what strftime makes of the first `length` bytes of `cFormat`, which has room for a
    // NUL behind them.
    void Put(char* cFormat, size_t length, size_t conversions, const std::tm& tm,
             std::string& text) const;

    locale_t m_Locale;
};

std::string CClassicTime::Apply(std::string_view format, const std::tm& tm) const {
    CScratch scratch(2 * format.size() + 1); // every byte an escaped "%"
    char* const cFormat = scratch.Data();
    std::string text;
    size_t length = 0;
    size_t conversions = 0;
    for (size_t at = 0; at < format.size();) {
        const char c = format[at];
        if (c == '%') {
            const size_t conversion = ConversionAt(format, at);
            cFormat[length++] = '%';
            if (conversion == 0)
                cFormat[length++] = '%';
            for (size_t i = 1; i < conversion; ++i)
                cFormat[length++] = format[at + i];
            conversions += conversion != 0;
            at += conversion != 0 ? conversion : 1;
        } else if (c == '\0') {
            // strftime would stop at it; the facet writes it as text.
            Put(cFormat, length, conversions, tm, text);
            text += '\0';
            length = 0;
            conversions = 0;
            ++at;
        } else {
            cFormat[length++] = c;
            ++at;
        }
    }
    Put(cFormat, length, conversions, tm, text);
    return text;
}

std::string CClassicTime::Apply(const Translated& translated, const std::tm& tm, int64_t ms) const {
    CScratch scratch(translated.cFormatLength + LONGEST_NUMBER * translated.numbers + 1);
    char* const cFormat = scratch.Data();
    size_t length = 0;
    for (const Piece& piece : translated.pieces) {
        if (piece.kind == Kind::TEXT) {
            std::memcpy(cFormat + length, piece.cFormat.data(), piece.cFormat.size());
            length += piece.cFormat.size();
        } else if (piece.kind == Kind::MILLISECONDS) {
            length += WriteNumber(cFormat + length, ms, piece.width);
        } else {
            length += WriteNumber(cFormat + length, Field(piece.selector, tm, ms), 0);
        }
    }
    std::string text;
    Put(cFormat, length, translated.conversions, tm, text);
    return text;
}

void CClassicTime::Put(char* cFormat, size_t length, size_t conversions, const std::tm& tm,
                       std::string& text) const {
    if (length == 0)
        return;
    cFormat[length] = '\0';
    // No conversion gives more than 127 bytes, or the facet's buffer would not hold it either.
    CScratch scratch(length + 128 * conversions + 1);
    text.append(scratch.Data(),
                strftime_l(scratch.Data(), length + 128 * conversions + 1, cFormat, &tm, m_Locale));
}

const CClassicTime CLASSIC_TIME;

} // namespace

std::string BuildFormat(std::string_view pattern, const std::tm& tm, int64_t ms, Mode mode) {
    return Render(Translate(pattern, mode), tm, ms);
}

std::string ApplyFormatWithFacet(std::string_view format, const std::tm& tm,
                                 const std::locale& locale) {
    std::ostringstream stream;
    stream.imbue(locale);
    const auto& facet = std::use_facet<std::time_put<char>>(locale);
    std::ostreambuf_iterator<char> out(stream);
    for (size_t at = 0; at < format.size() && !out.failed();) {
        const size_t length = ConversionAt(format, at);
        if (length == 0) {
            *out++ = format[at++];
            continue;
        }
        const char modifier = length == 3 ? format[at + 1] : '\0';
        out = facet.put(out, stream, stream.fill(), &tm, format[at + length - 1], modifier);
        at += length;
    }
    return stream.str();
}

std::string ApplyFormat(std::string_view format, const std::tm& tm) {
    if (!CLASSIC_TIME.Usable(tm))
        return ApplyFormatWithFacet(format, tm, std::locale());
    return CLASSIC_TIME.Apply(format, tm);
}

std::string FormatTime(std::string_view pattern, const std::tm& tm, int64_t ms, Mode mode) {
    // What a pattern becomes does not depend on the time, and an application formats with one or
    // two patterns: each thread keeps its last one per mode translated. Nothing here refers to it
    // while stage 2 runs, so a facet of the global locale may itself format dates.
    struct Kept {
        std::string pattern;
        Translated translated;
    };
    thread_local Kept lastOf[2];
    constexpr size_t LONGEST_KEPT = 256;

    Kept& last = lastOf[mode == Mode::DATE ? 0 : 1];
    Translated scratch;
    const Translated* translated = &last.translated;
    if (last.pattern != pattern) {
        if (pattern.size() <= LONGEST_KEPT) {
            // Both made before either is kept, so that a failed allocation keeps a matching pair.
            std::string kept(pattern);
            Translated translation = Translate(pattern, mode);
            last.pattern.swap(kept);
            last.translated = std::move(translation);
        } else {
            scratch = Translate(pattern, mode);
            translated = &scratch;
        }
    }
    if (!translated->hasNul && CLASSIC_TIME.Usable(tm))
        return CLASSIC_TIME.Apply(*translated, tm, ms);
    const std::string format = Render(*translated, tm, ms);
    return ApplyFormat(format, tm);
}

namespace {

// Both public forms: bounds, calendar conversion (local time for dates, UTC for durations), then
// the shared formatter.
std::string FormatMillis(const std::string& pattern, int64_t t, std::string_view fallback,
                         bool (*toCalendar)(int64_t, std::tm&), Mode mode) {
    std::tm tm{};
    if (t < 0 || t > LATEST_TIME || !toCalendar(t / 1000, tm))
        return {};
    return FormatTime(pattern.empty() ? fallback : std::string_view(pattern), tm, t % 1000, mode);
}

} // namespace

std::string FormatDate(std::string pattern, int64_t t) {
    return FormatMillis(pattern, t, DEFAULT_DATE_PATTERN, platform::LocalCalendarTime, Mode::DATE);
}

std::string FormatDuration(std::string pattern, int64_t t) {
    return FormatMillis(pattern, t, DEFAULT_DURATION_PATTERN, platform::UtcCalendarTime,
                        Mode::DURATION);
}

} // namespace OrnUtil::DateTime
