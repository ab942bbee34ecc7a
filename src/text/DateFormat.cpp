#include "platform/Calendar.h"
#include "text/ClassicTime.h"
#include "text/DatePattern.h"

#include <OrnUtil/Text.h>
#include <iterator>
#include <locale>
#include <sstream>

namespace OrnUtil::DateTime {

namespace {

constexpr std::string_view DEFAULT_DATE_PATTERN = "yyyy-MM-dd'T'HH:mm:ss'.'SSSZ";
constexpr std::string_view DEFAULT_DURATION_PATTERN = "'P'yyyy-MM-dd'T'HH:mm:ss'.'SSS";

// 3000-12-31T23:59:59.999 UTC, the last time the family's Windows builds could break down.
constexpr int64_t LATEST_TIME = 32535215999999;

// `format` applied to `tm` with the time_put facet of the global locale. Every "%" that starts no
// ISO C conversion is written as it stands.
std::string ApplyFacet(std::string_view format, const std::tm& tm) {
    const std::locale locale;
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

// `pattern` translated: `scratch` made for it, or kept from before.
const Translated& Kept(std::string_view pattern, Mode mode, Translated& scratch) {
    // What a pattern becomes does not depend on the time, and an application formats with one or
    // two patterns: each thread keeps its last one per mode translated. Nothing here refers to it
    // while the facet runs, so a facet of the global locale may itself format dates.
    struct Kept {
        std::string pattern;
        Translated translated;
    };
    thread_local Kept lastOf[2];
    constexpr size_t LONGEST_KEPT = 256;

    Kept& last = lastOf[mode == Mode::DATE ? 0 : 1];
    if (last.pattern == pattern)
        return last.translated;
    if (pattern.size() > LONGEST_KEPT) {
        scratch = Translate(pattern, mode);
        return scratch;
    }
    // Both made before either is kept, so that a failed allocation keeps a matching pair.
    std::string kept(pattern);
    Translated translation = Translate(pattern, mode);
    last.pattern.swap(kept);
    last.translated = std::move(translation);
    return last.translated;
}

// Both public forms: bounds, calendar conversion (local time for dates, UTC for durations), then
// the shared formatter. The default patterns are translated once for all threads.
std::string FormatMillis(const std::string& pattern, int64_t t, const Translated& fallback,
                         bool (*toCalendar)(int64_t, std::tm&), Mode mode) {
    std::tm tm{};
    if (t < 0 || t > LATEST_TIME || !toCalendar(t / 1000, tm))
        return {};
    Translated scratch;
    const Translated& translated = pattern.empty() ? fallback : Kept(pattern, mode, scratch);
    if (ClassicTimeUsable(tm))
        return ApplyClassicTime(translated, tm, t % 1000);
    return ApplyFacet(Render(translated, tm, t % 1000), tm);
}

} // namespace

std::string FormatDate(std::string pattern, int64_t t) {
    static const Translated DEFAULT = Translate(DEFAULT_DATE_PATTERN, Mode::DATE);
    return FormatMillis(pattern, t, DEFAULT, platform::LocalCalendarTime, Mode::DATE);
}

std::string FormatDuration(std::string pattern, int64_t t) {
    static const Translated DEFAULT = Translate(DEFAULT_DURATION_PATTERN, Mode::DURATION);
    return FormatMillis(pattern, t, DEFAULT, platform::UtcCalendarTime, Mode::DURATION);
}

} // namespace OrnUtil::DateTime
