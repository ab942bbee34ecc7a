// Arbitrary patterns and times into both formatters. Their shortcuts for the classic locale must
// write what the time_put facet writes, and times without a date must give an empty text.
#include "platform/Calendar.h"
#include "text/DateFormat.h"

#include <OrnUtil/Text.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <locale>
#include <string>

namespace {
constexpr int64_t LATEST = 32535215999999;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace OrnUtil::DateTime;
    if (size < 9)
        return 0;
    int64_t t = 0;
    std::memcpy(&t, data, sizeof t);
    // Most inputs land in the range that has dates; the rest probe its edges and beyond.
    if ((data[8] & 1) != 0)
        t = static_cast<int64_t>(static_cast<uint64_t>(t) % static_cast<uint64_t>(LATEST + 2));
    const std::string pattern(reinterpret_cast<const char*>(data) + 9, size - 9);

    const std::string date = FormatDate(pattern, t);
    const std::string duration = FormatDuration(pattern, t);
    const bool hasDate = t >= 0 && t <= LATEST;
    if (!hasDate && (!date.empty() || !duration.empty()))
        std::abort();
    if (!hasDate)
        return 0;

    // Stage 1 then the facet itself, as the formatters would without their shortcuts.
    std::tm local{};
    std::tm utc{};
    if (!OrnUtil::platform::LocalCalendarTime(t / 1000, local) ||
        !OrnUtil::platform::UtcCalendarTime(t / 1000, utc))
        std::abort();
    const std::locale classic = std::locale::classic();
    const std::string datePattern = pattern.empty() ? "yyyy-MM-dd'T'HH:mm:ss'.'SSSZ" : pattern;
    if (date !=
        ApplyFormatWithFacet(BuildFormat(datePattern, local, t % 1000, Mode::DATE), local, classic))
        std::abort();
    const std::string durationPattern =
        pattern.empty() ? "'P'yyyy-MM-dd'T'HH:mm:ss'.'SSS" : pattern;
    if (duration != ApplyFormatWithFacet(
                        BuildFormat(durationPattern, utc, t % 1000, Mode::DURATION), utc, classic))
        std::abort();
    // Stage 2 alone, on formats that no pattern makes (a "%" before a letter).
    const std::string format(reinterpret_cast<const char*>(data) + 9, size - 9);
    if (ApplyFormat(format, local) != ApplyFormatWithFacet(format, local, classic))
        std::abort();
    return 0;
}
