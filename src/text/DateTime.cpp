#include "platform/Calendar.h"
#include "text/DateFormat.h"

#include <OrnUtil/Text.h>
#include <charconv>
#include <cstring>
#include <iterator>
#include <memory>
#include <sstream>

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

// A run is always one letter repeated, so the table is looked up by letter and length: a pattern
// is translated on every call, and a search by text would cost more than the formatting.
constexpr size_t LONGEST_RUN = 4;
struct RunIndex {
    std::string_view replacement[128][LONGEST_RUN + 1] = {};
    constexpr RunIndex() {
        for (const Conversion& conversion : PATTERN_CONVERSIONS)
            replacement[static_cast<unsigned char>(conversion.run[0])][conversion.run.size()] =
                conversion.replacement;
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

bool IsOneOf(std::string_view set, char c) {
    return c != '\0' && set.find(c) != std::string_view::npos;
}

bool IsPatternLetter(char c) {
    return IsOneOf(DATE_PATTERN_LETTERS, c);
}

bool IsDurationDateRun(char letter, size_t length) {
    for (std::string_view run : DURATION_DATE_RUNS)
        if (run.size() == length && run[0] == letter)
            return true;
    return false;
}

void AppendNumber(std::string& format, int64_t value, size_t width) {
    char digits[24];
    const size_t count =
        static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, value).ptr - digits);
    if (count < width)
        format.append(width - count, '0');
    format.append(digits, count);
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

void Translate(char letter, size_t length, const std::tm& tm, int64_t ms, Mode mode,
               std::string& format) {
    if (length == 0)
        return;
    const std::string_view replacement =
        length <= LONGEST_RUN ? RUN_INDEX.replacement[static_cast<unsigned char>(letter)][length]
                              : std::string_view();
    if (replacement.data() == nullptr ||
        (mode == Mode::DURATION && IsDurationDateRun(letter, length)))
        format.append(length, letter);
    else if (replacement == "00" || replacement == "000")
        AppendNumber(format, ms, replacement.size());
    else if (replacement.size() > 2 && replacement.find("%0") != std::string_view::npos)
        AppendNumber(format, Field(replacement[replacement.find("%0") + 2], tm, ms), 0);
    else
        format.append(replacement);
}

// The length of the ISO C conversion that starts at format[at] ("%Y" 2, "%Ey" 3), 0 for none.
size_t ConversionAt(std::string_view format, size_t at) {
    if (format[at] != '%' || at + 1 >= format.size())
        return 0;
    const char conversion = format[at + 1];
    if (IsOneOf(ISO_CONVERSIONS, conversion))
        return 2;
    if (at + 2 < format.size() && ((conversion == 'E' && IsOneOf(E_CONVERSIONS, format[at + 2])) ||
                                   (conversion == 'O' && IsOneOf(O_CONVERSIONS, format[at + 2]))))
        return 3;
    return 0;
}

// The classic locale's time_put facet formats each conversion with strftime_l in the C locale
// into 128 bytes; so does the shortcut below, for the whole format in one call.
class CClassicTime {
public:
    CClassicTime() : m_Locale(newlocale(LC_ALL_MASK, "C", locale_t())) {}
    ~CClassicTime() {
        if (m_Locale != locale_t())
            freelocale(m_Locale);
    }
    CClassicTime(const CClassicTime&) = delete;
    CClassicTime& operator=(const CClassicTime&) = delete;

    // False where the shortcut would not give the facet's text: the locale could not be made, or a
    // zone name too long for the facet's buffer.
    bool Usable(const std::tm& tm) const {
        return m_Locale != locale_t() && (tm.tm_zone == nullptr || strnlen(tm.tm_zone, 128) < 128);
    }

    // Appends `segment` (no NUL in it) applied to `tm`.
    void Put(std::string_view segment, const std::tm& tm, std::string& text) const;

private:
    locale_t m_Locale;
};

void CClassicTime::Put(std::string_view segment, const std::tm& tm, std::string& text) const {
    // strftime's own format: the ISO conversions as they are, every other "%" escaped.
    char stackSpec[256];
    std::unique_ptr<char[]> heapSpec;
    char* spec = stackSpec;
    if (2 * segment.size() + 1 > sizeof stackSpec) {
        heapSpec.reset(new char[2 * segment.size() + 1]);
        spec = heapSpec.get();
    }
    size_t specLength = 0;
    size_t conversions = 0;
    for (size_t at = 0; at < segment.size();) {
        const size_t length = ConversionAt(segment, at);
        if (length > 0) {
            ++conversions;
            std::memcpy(spec + specLength, segment.data() + at, length);
            specLength += length;
            at += length;
        } else {
            if (segment[at] == '%')
                spec[specLength++] = '%';
            spec[specLength++] = segment[at++];
        }
    }
    spec[specLength] = '\0';
    if (conversions == 0) {
        text.append(segment);
        return;
    }
    // No conversion gives more than 127 bytes, or the facet's buffer would not hold it either.
    const size_t capacity = segment.size() + 128 * conversions;
    char stackText[1024];
    std::unique_ptr<char[]> heapText;
    char* out = stackText;
    if (capacity > sizeof stackText) {
        heapText.reset(new char[capacity]);
        out = heapText.get();
    }
    text.append(out, strftime_l(out, capacity, spec, &tm, m_Locale));
}

const CClassicTime CLASSIC_TIME;

} // namespace

std::string BuildFormat(std::string_view pattern, const std::tm& tm, int64_t ms, Mode mode) {
    std::string format;
    format.reserve(pattern.size() + 16);
    char runLetter = '\0';
    size_t runLength = 0;
    bool quoted = false;
    char previous = '\0'; // a NUL in the pattern counts as no previous character
    const auto flush = [&] {
        Translate(runLetter, runLength, tm, ms, mode, format);
        runLength = 0;
    };
    for (const char c : pattern) {
        if (c == '\'') {
            if (previous == '\'')
                format += '\'';
            if (!quoted)
                flush();
            quoted = !quoted;
        } else if (quoted) {
            format += c;
        } else if ((c == previous || previous == '\0') && IsPatternLetter(c)) {
            runLetter = c;
            ++runLength;
        } else {
            flush();
            if (IsPatternLetter(c)) {
                runLetter = c;
                runLength = 1;
            } else {
                format += c;
            }
        }
        previous = c;
    }
    flush();
    return format;
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
    const std::locale global;
    if (global != std::locale::classic() || !CLASSIC_TIME.Usable(tm))
        return ApplyFormatWithFacet(format, tm, global);
    // strftime stops at a NUL, the facet writes it as text.
    std::string text;
    for (size_t start = 0;;) {
        const size_t end = std::min(format.find('\0', start), format.size());
        CLASSIC_TIME.Put(format.substr(start, end - start), tm, text);
        if (end == format.size())
            return text;
        text += '\0';
        start = end + 1;
    }
}

std::string FormatTime(std::string_view pattern, const std::tm& tm, int64_t ms, Mode mode) {
    return ApplyFormat(BuildFormat(pattern, tm, ms, mode), tm);
}

std::string FormatDate(std::string pattern, int64_t t) {
    std::tm tm{};
    if (t < 0 || t > LATEST_TIME || !platform::LocalCalendarTime(t / 1000, tm))
        return {};
    return FormatTime(pattern.empty() ? DEFAULT_DATE_PATTERN : std::string_view(pattern), tm,
                      t % 1000, Mode::DATE);
}

std::string FormatDuration(std::string pattern, int64_t t) {
    std::tm tm{};
    if (t < 0 || t > LATEST_TIME || !platform::UtcCalendarTime(t / 1000, tm))
        return {};
    return FormatTime(pattern.empty() ? DEFAULT_DURATION_PATTERN : std::string_view(pattern), tm,
                      t % 1000, Mode::DURATION);
}

} // namespace OrnUtil::DateTime
