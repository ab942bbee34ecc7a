#include "TestSupport.h"

#include <OrnUtil/Text.h>
#include <atomic>
#include <ctime>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <locale>
#include <malloc.h>
#include <sstream>

// Every strftime_l call of the library counted: the C locale's numbers need none.
static std::atomic<int> strftimeCalls{0};
extern "C" size_t strftime_l(char* s, size_t max, const char* format, const std::tm* tm,
                             locale_t locale) {
    static const auto real =
        reinterpret_cast<decltype(&strftime_l)>(dlsym(RTLD_NEXT, "strftime_l"));
    ++strftimeCalls;
    return real(s, max, format, tm, locale);
}

using namespace OrnUtil;
using namespace OrnUtil::DateTime;

namespace {

TEST(Utf, ConvertsUpToTheFirstFaultAndSaysWhetherTheWholeTextWent) {
    const std::string grin = "A\xF0\x9F\x98\x80", grin16("A\0\x3D\xD8\x00\xDE", 6);
    // From UTF-8 or to it; the output holds "?" before, to show when it is left alone.
    const std::tuple<bool, const char*, std::string, std::string, bool> cases[] = {
        {true, "ISO-8859-1", "\xC3\xA9", "\xE9", true},
        {true, "UTF-16LE", grin, grin16, true},
        {false, "UTF-16LE", grin16, grin, true},
        {true, "ISO-8859-1", "", "", true},
        // Invalid or truncated input, or a character the target lacks: what came before is kept.
        {true, "ISO-8859-1", "A\xFF\x42", "A", false},
        {true, "ISO-8859-1", "AB\xC3", "AB", false},
        {false, "UTF-16LE", std::string("A\0\x3D\xD8", 4), "A", false},
        {true, "ISO-8859-1//TRANSLIT", "A\xE2\x82\xAC\x42", "AEURB", false},
        {true, "ISO-8859-1//IGNORE", "A\xFF\x42\xC3\xA9", "AB\xE9", false},
        {true, "UTF-32", "A", std::string("\xFF\xFE\0\0", 4), false}, // 4 bytes per byte at most
        {true, "UTF-32LE", "AB", std::string("A\0\0\0B\0\0\0", 8), true},
        {true, "UTF-32LE//IGNORE", "\377AB", std::string("A\0\0\0B\0\0\0", 8), false},
        {true, "NO-SUCH-CHARSET", "abc", "?", false},
    };
    for (const auto& [fromUtf8, charset, in, out, whole] : cases) {
        std::vector<char> bytes{'?'};
        std::string text = "?";
        const bool converted =
            fromUtf8 ? fromUTF8(charset, in.data(), static_cast<int32_t>(in.size()), bytes)
                     : toUTF8(charset, in.data(), static_cast<uint32_t>(in.size()), text);
        EXPECT_EQ(fromUtf8 ? std::string(bytes.begin(), bytes.end()) : text, out) << charset << in;
        EXPECT_EQ(converted, whole) << charset << " " << in;
    }
    std::vector<char> kept{'?'};
    EXPECT_FALSE(fromUTF8("ISO-8859-1", "abc", -1, kept) || kept.size() != 1);
    std::string text(3 << 20, '\xE9'); // in the output itself
    EXPECT_TRUE(toUTF8("ISO-8859-1", text.data(), 3 << 20, text) && text.size() == 6 << 20);
    EXPECT_TRUE(toUTF8("UTF-16LE", nullptr, 0, text) && text.empty());
    // Straight into the room the output has: no area of its own.
    const std::string latin1(1 << 20, '\xE9');
    const auto inUse = [] { return mallinfo2().uordblks + mallinfo2().hblkhd; };
    const size_t before = inUse();
    EXPECT_TRUE(toUTF8("ISO-8859-1", latin1.data(), 1 << 20, text) && text.size() == 2 << 20);
    EXPECT_LT(inUse(), before + (1 << 20));
}

TEST(Utf, GetBOMReportsTheMarkAndLeavesTheStreamBehindIt) {
    // The bytes, their mark and where the next read starts (-1: the stream has failed).
    const std::tuple<std::string, UTF::BOM, int> cases[] = {
        {"\xEF\xBB\xBFxyz", UTF::BOM_UTF8, 3},
        {std::string("\xFF\xFEx\0", 4), UTF::BOM_UTF16LE, 2},
        {std::string("\xFF\xFE\0\0x", 5), UTF::BOM_UTF32LE, 4},
        {std::string("\0\0\xFE\xFF\0", 5), UTF::BOM_UTF32BE, 4},
        {std::string("\xFE\xFF\0x", 4), UTF::BOM_UTF16BE, 2},
        {std::string("\0\0\xFF\xFE", 4), UTF::BOM_NONE, 0},
        // Shorter than four bytes: the read fails, but the marks that fit are told apart.
        {"\xEF\xBB\xBF", UTF::BOM_UTF8, -1},
        {"\xFF\xFEx", UTF::BOM_UTF16LE, -1},
    };
    for (const auto& [bytes, bom, next] : cases) {
        std::istringstream stream(bytes);
        EXPECT_EQ(UTF::GetBOM(stream), bom) << testing::PrintToString(bytes);
        EXPECT_EQ(stream.fail() ? -1 : stream.get(), next < 0 ? -1 : bytes[next] & 0xFF);
    }
}

const int64_t JULY_31 = 1564575889123; // a Wednesday, 2019-07-31T14:24:49.123+0200 in Berlin
const int64_t LATEST = 32535215999999; // 3000-12-31T23:59:59.999 UTC

// Writes every conversion as its letters in brackets.
struct CBracketTimePut : std::time_put<char> {
    iter_type do_put(iter_type out, std::ios_base&, char, const std::tm*, char format,
                     char modifier) const override {
        for (const char c : {'[', modifier, format, ']'})
            if (c != '\0')
                *out++ = c;
        return out;
    }
};

TEST(Date, PatternsWriteFieldsQuotedTextAndConversionsOfTheGlobalLocale) {
    testing_support::ScopedEnv zone("TZ", "Europe/Berlin");
    tzset();
    // Date or duration, the pattern, the time and the text.
    const std::tuple<bool, std::string, int64_t, std::string> cases[] = {
        {true, "", 3723004, "Pyyyy-MM-ddT01:02:03.004"},
        {true, "H:m:s HHmm S SS SSS", 3723004, "1:2:3 0102 4 04 004"},
        {true, "SS yyy y yy yyyy M MM d dd D", 90001234, "234 70 y yy yyyy M MM d dd 002"},
        {false, "", JULY_31, "2019-07-31T14:24:49.123+0200"},
        {false, "", 0, "1970-01-01T01:00:00.000+0100"},
        {false, "", LATEST, "3001-01-01T00:59:59.999+0100"},
        {false, "EEEE, d MMMM yyyy G", JULY_31, "Wednesday, 31 July 2019 AD"},
        {false, "E EE EEE D w a y yy yyy MMM M z zzzz", JULY_31,
         "Wed Wed Wed 212 31 PM 2019 19 19 Jul 7 CEST CEST"},
        {false, "yyyyy DD SSSS EEEEE HHH aa ZZ GG ww T k !", JULY_31,
         "yyyyy DD SSSS EEEEE HHH aa ZZ GG ww T k !"},
        {false, "h a|hh|H|m|s", 23 * 3600000 + 7000, "12 AM|12|0|0|7"},
        {false, "z HH:mm:ss.SSS Z", 1553994000000, "CEST 03:00:00.000 +0200"}, // no 02:00 then
        {false, "'yyyy' yyyy|HH''mm|''|h 'o''clock'|'''abc", JULY_31,
         "yyyy 2019|14'24|'|2 o'clock|''abc"},
        // A "%" starts a standard conversion ("%%Y": the quoted "%", then a Y), or stays as it is.
        {false, "'%Ey|%j|%Od|%%|%k|%-d|%Ed|%E'%|%yyyy|'%'d", JULY_31,
         "19|212|31|%|%k|%-d|%Ed|%E%|%Y|%31"},
        {false, std::string("h\0'%Ey%'mm'%'\0", 14), JULY_31, std::string("2\00019%M%\0", 8)},
        {false, std::string(3000, 'y'), JULY_31, std::string(3000, 'y')}, // not kept translated
        {false, "yyyy", JULY_31, "2019"},
        {true, "yyyy", JULY_31, "yyyy"},
    };
    // The classic locale's shortcut and the facet that another locale makes run write the same.
    for (const bool classic : {true, false}) {
        std::locale::global(classic ? std::locale::classic()
                                    : std::locale(std::locale::classic(), new std::time_put<char>));
        for (const auto& [duration, pattern, t, text] : cases)
            EXPECT_EQ(duration ? FormatDuration(pattern, t) : FormatDate(pattern, t), text)
                << pattern.substr(0, 40) << (classic ? "" : " (facet)");
    }
    for (const int64_t t : {int64_t(-1), LATEST + 1, INT64_MIN, INT64_MAX})
        EXPECT_EQ(FormatDate("'x'", t) + FormatDuration("'x'", t), "") << t;
    // Names and conversions come from the global locale's facet.
    std::locale::global(std::locale(std::locale::classic(), new CBracketTimePut));
    EXPECT_EQ(FormatDate("yyyy-MM-dd H 'at %Ey'", JULY_31), "[Y]-[m]-[d] 14 at [Ey]");
    std::locale::global(std::locale::classic());
}

TEST(Date, NumbersAndOffsetsAreWrittenAsStrftimeWritesThemWithoutIt) {
    // Offsets west, east, of minutes and of seconds, whose sign only the seconds carry.
    for (const char* zone : {"UTC0", "NST3:30", "NPT-5:45", "LMT0:44:30", "XYZ0:00:30", "NZ-14"}) {
        testing_support::ScopedEnv env("TZ", zone);
        tzset();
        const time_t seconds = JULY_31 / 1000;
        std::tm tm{};
        localtime_r(&seconds, &tm);
        char expected[64];
        strftime(expected, sizeof expected, "%Y-%m-%dT%H:%M:%S.123%z %y %j %I", &tm);
        const int calls = strftimeCalls;
        EXPECT_EQ(FormatDate("yyyy-MM-dd'T'HH:mm:ss.SSSZ yy D hh", JULY_31), expected) << zone;
        EXPECT_EQ(strftimeCalls, calls) << zone;
    }
}

} // namespace
