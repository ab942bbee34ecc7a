// Arbitrary patterns and times into both formatters. Their shortcut for the classic locale must
// write what the time_put facet writes (the facet runs when the global locale is not the classic
// one, here one with the same facets), and times without a date must give an empty text.
#include "FuzzSupport.h"

#include <OrnUtil/Text.h>
#include <cstring>
#include <locale>

namespace {

constexpr int64_t LATEST = 32535215999999;

// Both formatters' texts, the format quoted as a pattern's literal text included: that passes
// a "%" before any letter to the standard conversions, which no run of letters makes.
std::string FormatAll(const std::string& pattern, const std::string& quoted, int64_t t) {
    using namespace OrnUtil::DateTime;
    return FormatDate(pattern, t) + '\n' + FormatDuration(pattern, t) + '\n' +
           FormatDate(quoted, t);
}

} // namespace

FUZZ_TARGET(input) {
    if (input.size() < 9)
        return;
    int64_t t = 0;
    std::memcpy(&t, input.data(), sizeof t);
    // Most inputs land in the range that has dates; the rest probe its edges and beyond.
    if ((input[8] & 1) != 0)
        t = static_cast<int64_t>(static_cast<uint64_t>(t) % static_cast<uint64_t>(LATEST + 2));
    const std::string pattern = input.substr(9);
    std::string quoted = "'";
    for (const char c : pattern)
        quoted += c == '\'' ? std::string("''") : std::string(1, c);
    quoted += '\'';

    const std::string classic = FormatAll(pattern, quoted, t);
    if (t < 0 || t > LATEST) {
        fuzz::Require(classic == "\n\n");
        return;
    }
    static const std::locale viaFacet(std::locale::classic(), new std::time_put<char>);
    std::locale::global(viaFacet);
    const std::string facet = FormatAll(pattern, quoted, t);
    std::locale::global(std::locale::classic());
    fuzz::Require(facet == classic);
}
