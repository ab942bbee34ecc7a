#include "TestSupport.h"
#include "platform/Calendar.h"
#include "text/DateFormat.h"

#include <OrnUtil/Text.h>
#include <gtest/gtest.h>
#include <locale>
#include <sstream>
#include <thread>

using OrnUtil::fromUTF8;
using OrnUtil::toUTF8;
using OrnUtil::DateTime::FormatDate;
using OrnUtil::DateTime::FormatDuration;
using namespace testing_support;

namespace {

std::string FromUtf8(const std::string& charset, const std::string& text, bool* whole = nullptr) {
    std::vector<char> out{'?'};
    const bool converted = fromUTF8(charset, text.data(), static_cast<int32_t>(text.size()), out);
    if (whole != nullptr)
        *whole = converted;
    return std::string(out.begin(), out.end());
}

std::string ToUtf8(const std::string& charset, const std::string& text, bool* whole = nullptr) {
    std::string out = "?";
    const bool converted = toUTF8(charset, text.data(), static_cast<uint32_t>(text.size()), out);
    if (whole != nullptr)
        *whole = converted;
    return out;
}

TEST(Utf, ConvertsUpToTheFirstFaultAndSaysWhetherTheWholeTextWent) {
    struct Case {
        bool fromUtf8;
        const char* charset;
        std::string in, out;
        bool whole;
    };
    const std::string grin = "A\xF0\x9F\x98\x80"; // a surrogate pair in UTF-16
    const std::string grin16("A\0\x3D\xD8\x00\xDE", 6);
    // Hex escapes end at the next backslash, so "\x42" is a B right after a non-ASCII byte.
    const Case cases[] = {
        {true, "ISO-8859-1", "\xC3\xA9", "\xE9", true},
        {false, "ISO-8859-1", "\xE9", "\xC3\xA9", true},
        {true, "UTF-16LE", grin, grin16, true},
        {false, "UTF-16LE", grin16, grin, true},
        {false, "UTF-16", std::string("\xFE\xFF\0A", 4), "A", true},
        {true, "ISO-8859-1", "", "", true}, // whatever the output held
        // Bad input: what came before it is kept.
        {true, "ISO-8859-1", "A\xFF\x42", "A", false},
        {true, "ISO-8859-1", "AB\xC3", "AB", false},                    // truncated sequence
        {true, "ISO-8859-1", "A\xE2\x82\xAC\x42", "A", false},          // no euro in Latin-1
        {false, "UTF-16LE", std::string("A\0\x3D\xD8", 4), "A", false}, // half a pair
        // One call, no flush: a stateful target is left without its closing shift.
        {true, "UTF-7", "\xC3\xA9", "+AO", true},
        // Transliteration and ignoring complete the text but still report false.
        {true, "ISO-8859-1//TRANSLIT", "A\xE2\x82\xAC\x42", "AEURB", false},
        {true, "ISO-8859-1//IGNORE", "A\xE2\x82\xAC\x42", "AB", false},
        {true, "ISO-8859-1//IGNORE", "A\xFF\x42\xC3\xA9", "AB\xE9", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.charset) + " " + testing::PrintToString(c.in));
        bool whole = !c.whole;
        EXPECT_EQ(c.fromUtf8 ? FromUtf8(c.charset, c.in, &whole) : ToUtf8(c.charset, c.in, &whole),
                  c.out);
        EXPECT_EQ(whole, c.whole);
    }
    std::string out = "old";
    EXPECT_TRUE(toUTF8("UTF-16LE", nullptr, 0, out));
    EXPECT_EQ(out, "");
    // Four output bytes per input byte, never more: the mark and the character do not fit.
    bool whole = true;
    EXPECT_LE(FromUtf8("UTF-32", "A", &whole).size(), 4u);
    EXPECT_FALSE(whole);
}

TEST(Utf, ConvertsATextHeldInTheOutputItself) {
    std::string text(40, '\xE9');
    EXPECT_TRUE(toUTF8("ISO-8859-1", text.data(), static_cast<uint32_t>(text.size()), text));
    std::string expected;
    for (int i = 0; i < 40; ++i)
        expected += "\xC3\xA9";
    EXPECT_EQ(text, expected);
    std::vector<char> bytes(expected.begin(), expected.end());
    EXPECT_TRUE(fromUTF8("ISO-8859-1", bytes.data() + 2, 4, bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "\xE9\xE9");
}

TEST(Utf, UnknownCharacterSetsAndNegativeLengthsLeaveTheOutputAlone) {
    std::vector<char> bytes{'k', 'e', 'e', 'p'};
    EXPECT_FALSE(fromUTF8("NO-SUCH-CHARSET", "abc", 3, bytes));
    EXPECT_FALSE(fromUTF8("ISO-8859-1", "abc", -1, bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "keep");
    std::string text = "keep";
    EXPECT_FALSE(toUTF8("NO-SUCH-CHARSET", "abc", 3, text));
    EXPECT_FALSE(toUTF8("NO-SUCH-CHARSET", "", 0, text));
    EXPECT_EQ(text, "keep");
}

struct BomCase {
    std::string mark, rest; // the stream holds both, one after the other
    UTF::BOM bom;
    int position; // where the next read starts; -1: the stream is failed
};

TEST(Utf, GetBOMReportsTheMarkAndLeavesTheStreamBehindIt) {
    const std::string nul(1, '\0');
    const BomCase cases[] = {
        {"\xEF\xBB\xBF", "ABC", UTF::BOM_UTF8, 3},
        {"\xFF\xFE", "A" + nul, UTF::BOM_UTF16LE, 2},
        {"\xFF\xFE" + nul + nul, "A", UTF::BOM_UTF32LE, 4},
        {nul + nul + "\xFE\xFF", nul, UTF::BOM_UTF32BE, 4},
        {"\xFE\xFF", nul + "A", UTF::BOM_UTF16BE, 2},
        {"", "ABCD", UTF::BOM_NONE, 0},
        {"", nul + nul + "\xFF\xFE", UTF::BOM_NONE, 0},
        // Shorter than four bytes: the read fails, the marks that fit are still told apart.
        {"\xEF\xBB\xBF", "", UTF::BOM_UTF8, -1},
        {"\xFF\xFE", "A", UTF::BOM_UTF16LE, -1},
        {"\xFE\xFF", "", UTF::BOM_UTF16BE, -1},
        {"", "\xEF\xBB", UTF::BOM_NONE, -1},
        {"", "", UTF::BOM_NONE, -1},
    };
    for (const BomCase& c : cases) {
        const std::string bytes = c.mark + c.rest;
        std::istringstream stream(bytes);
        EXPECT_EQ(UTF::GetBOM(stream), c.bom) << testing::PrintToString(bytes);
        if (c.position < 0) {
            EXPECT_TRUE(stream.fail());
            continue;
        }
        EXPECT_EQ(stream.tellg(), c.position) << testing::PrintToString(bytes);
        EXPECT_EQ(stream.get(), static_cast<unsigned char>(bytes[c.position]));
    }
}

// Each date test runs at UTC with the classic locale unless it says otherwise.
class DateTest : public testing::Test {
protected:
    void SetUp() override { tzset(); }
    void TearDown() override {
        m_Zone.reset();
        tzset();
    }
    void InZone(const char* zone) {
        m_Zone.emplace("TZ", zone);
        tzset();
    }

private:
    std::optional<ScopedEnv> m_Zone{std::in_place, "TZ", "UTC"};
};

const int64_t JULY_31 = 1564575889123; // Wednesday, 2019-07-31T12:24:49.123 UTC

TEST_F(DateTest, DurationsAreClockFieldsAndKeepTheirDateRunsAsLetters) {
    EXPECT_EQ(FormatDuration("", 3723004), "Pyyyy-MM-ddT01:02:03.004");
    EXPECT_EQ(FormatDuration("HH:mm:ss.SSS", 3723004), "01:02:03.004");
    EXPECT_EQ(FormatDuration("H:m:s", 3723004), "1:2:3");
    EXPECT_EQ(FormatDuration("HHmm", 3723004), "0102");
    EXPECT_EQ(FormatDuration("S, SS, SSS", 5), "5, 05, 005");
    EXPECT_EQ(FormatDuration("S, SS, SSS", 45), "45, 45, 045");
    EXPECT_EQ(FormatDuration("SS", 1234), "234");
    EXPECT_EQ(FormatDuration("yyy", 3723004), "70");
    EXPECT_EQ(FormatDuration("y yy yyyy M MM d dd", 3723004), "y yy yyyy M MM d dd");
    EXPECT_EQ(FormatDuration("D", 90000000), "002");
}

TEST_F(DateTest, DatesFollowTheRunTable) {
    EXPECT_EQ(FormatDate("EEEE, d MMMM yyyy", JULY_31), "Wednesday, 31 July 2019");
    EXPECT_EQ(FormatDate("E, EEE, D, w, a, hh", JULY_31), "Wed, Wed, 212, 31, PM, 12");
    EXPECT_EQ(FormatDate("", JULY_31), "2019-07-31T12:24:49.123+0000");
    EXPECT_EQ(FormatDate("yyyyMMdd-HHmmss", JULY_31), "20190731-122449");
    EXPECT_EQ(FormatDate("y yy yyy MMM M d EE z zzzz G", JULY_31),
              "2019 19 19 Jul 7 31 Wed UTC UTC AD");
    EXPECT_EQ(FormatDate("yyyyy DD SSSS EEEEE HHH aa ZZ GG ww", JULY_31),
              "yyyyy DD SSSS EEEEE HHH aa ZZ GG ww");
    EXPECT_EQ(FormatDate("W", JULY_31), "Week in month not supported");
    EXPECT_EQ(FormatDate("F", JULY_31), "Day of week of month not supported");
    EXPECT_EQ(FormatDate("T k K u X !", JULY_31), "T k K u X !");
    EXPECT_EQ(FormatDate("  ", JULY_31), "  ");
    // h is the hour on a 12-hour clock face: 12 at noon and midnight, no leading zero.
    EXPECT_EQ(FormatDate("h a|hh|H", 0), "12 AM|12|0");
    EXPECT_EQ(FormatDate("h a|hh|H", 13 * 3600000), "1 PM|01|13");
    EXPECT_EQ(FormatDate("h|H", 11 * 3600000), "11|11");
}

TEST_F(DateTest, QuotesMakeLiteralTextAndPercentSignsPassThrough) {
    EXPECT_EQ(FormatDate("''", JULY_31), "'");
    EXPECT_EQ(FormatDate("'''", JULY_31), "''");
    EXPECT_EQ(FormatDate("h 'o''clock'", JULY_31), "12 o'clock");
    EXPECT_EQ(FormatDate("'at' HH", JULY_31), "at 12");
    EXPECT_EQ(FormatDate("'abc", JULY_31), "abc");
    EXPECT_EQ(FormatDate("'yyyy' yyyy", JULY_31), "yyyy 2019");
    EXPECT_EQ(FormatDate("HH''mm", JULY_31), "12'24");
    // A percent sign starts a standard conversion or is written as it stands.
    EXPECT_EQ(FormatDate("'%j|%Ey|%Od|%%'", JULY_31), "212|19|31|%");
    EXPECT_EQ(FormatDate("'%k|%-d|%Ed|%E'", JULY_31), "%k|%-d|%Ed|%E");
    EXPECT_EQ(FormatDate("%", JULY_31), "%");
    EXPECT_EQ(FormatDate("%yyyy", JULY_31), "%Y"); // "%%Y": the quoted percent, then a Y
    EXPECT_EQ(FormatDate("'%'d", JULY_31), "%31"); // "%31": %3 is no conversion
}

TEST_F(DateTest, TimesWithoutADateGiveAnEmptyText) {
    const int64_t latest = 32535215999999;
    EXPECT_EQ(FormatDate("", latest), "3000-12-31T23:59:59.999+0000");
    EXPECT_EQ(FormatDuration("HH:mm:ss.SSS", latest), "23:59:59.999");
    for (const int64_t t : {int64_t(-1), latest + 1, INT64_MIN, INT64_MAX}) {
        EXPECT_EQ(FormatDate("'x'", t), "") << t;
        EXPECT_EQ(FormatDuration("'x'", t), "") << t;
    }
    EXPECT_EQ(FormatDate("", 0), "1970-01-01T00:00:00.000+0000");
}

TEST_F(DateTest, ZoneOffsetFollowsDaylightSavingTime) {
    InZone("Europe/Berlin");
    EXPECT_EQ(FormatDate("", 1547553600000), "2019-01-15T13:00:00.000+0100");
    EXPECT_EQ(FormatDate("", JULY_31), "2019-07-31T14:24:49.123+0200");
    EXPECT_EQ(FormatDate("z", 1547553600000), "CET");
    EXPECT_EQ(FormatDate("z", JULY_31), "CEST");
    // The spring change: the hour from 02:00 to 03:00 does not exist.
    EXPECT_EQ(FormatDate("HH:mm:ss.SSS Z", 1553993999999), "01:59:59.999 +0100");
    EXPECT_EQ(FormatDate("HH:mm:ss.SSS Z", 1553994000000), "03:00:00.000 +0200");
    EXPECT_EQ(FormatDuration("HH:mm", 3723004), "01:02");
}

TEST_F(DateTest, BuildsTheConversionFormatFirst) {
    std::tm tm{};
    ASSERT_TRUE(OrnUtil::platform::UtcCalendarTime(JULY_31 / 1000, tm));
    using OrnUtil::DateTime::Mode;
    EXPECT_EQ(OrnUtil::DateTime::BuildFormat("yyyy-MM-dd'T'HH:mm:ss'.'SSSZ", tm, 123, Mode::DATE),
              "%Y-%m-%dT%H:%M:%S.123%z");
    EXPECT_EQ(OrnUtil::DateTime::BuildFormat("d.M.y h:m:s S|SS", tm, -5, Mode::DATE),
              "31.7.%Y 12:24:49 -5|-5");
    EXPECT_EQ(OrnUtil::DateTime::BuildFormat("SSS", tm, -5, Mode::DATE), "0-5");
}

TEST_F(DateTest, ClassicShortcutWritesWhatTheFacetWrites) {
    const char* const formats[] = {
        "%a %A %b %B %c %C %d %D %e %F %g %G %h %H %I %j %m %M %n %p %r %R %S %t %T %u %U %V %w",
        "%W %x %X %y %Y %z %Z %% %Ec %EC %Ex %EX %Ey %EY %Od %Oe %OH %OI %Om %OM %OS %Ou %OU",
        "%OV %Ow %OW %Oy %Ed %Oz %E %O %k %s %-d %_H %010Y %^a %#Z %",
        "%%%%% %%d literal 'text' \xC3\xA9",
        "",
    };
    const std::string withNul("%H\0%M%\0", 7);
    for (const int64_t seconds : {int64_t(0), JULY_31 / 1000, int64_t(32535215999)}) {
        std::tm tm{};
        ASSERT_TRUE(OrnUtil::platform::LocalCalendarTime(seconds, tm));
        for (std::string_view format : formats)
            EXPECT_EQ(OrnUtil::DateTime::ApplyFormat(format, tm),
                      OrnUtil::DateTime::ApplyFormatWithFacet(format, tm, std::locale::classic()))
                << format;
        EXPECT_EQ(OrnUtil::DateTime::ApplyFormat(withNul, tm),
                  OrnUtil::DateTime::ApplyFormatWithFacet(withNul, tm, std::locale::classic()));
    }
    std::tm tm{};
    ASSERT_TRUE(OrnUtil::platform::LocalCalendarTime(0, tm));
    EXPECT_EQ(OrnUtil::DateTime::ApplyFormat(withNul, tm), std::string("00") + '\0' + "00%" + '\0');
    // The formatters' own shortcut: the pattern's escapes are worked out before its numbers.
    ASSERT_TRUE(OrnUtil::platform::LocalCalendarTime(JULY_31 / 1000, tm));
    const std::string patterns[] = {
        "yyyy-MM-dd'T'HH:mm:ss'.'SSSZ", "'%'d", "'%E'SSS", "'%O'M'%'", "'%%'yyyy'%'",
        std::string("HH\0'%'mm", 9)};
    for (const std::string& pattern : patterns) {
        const std::string format =
            OrnUtil::DateTime::BuildFormat(pattern, tm, 123, OrnUtil::DateTime::Mode::DATE);
        EXPECT_EQ(FormatDate(pattern, JULY_31),
                  OrnUtil::DateTime::ApplyFormatWithFacet(format, tm, std::locale::classic()))
            << pattern;
    }
}

// Writes every conversion as its letter in brackets.
class BracketTimePut : public std::time_put<char> {
protected:
    iter_type do_put(iter_type out, std::ios_base&, char, const std::tm*, char format,
                     char modifier) const override {
        for (const char c : {'[', modifier, format, ']'})
            if (c != '\0')
                *out++ = c;
        return out;
    }
};

TEST_F(DateTest, NamesComeFromTheGlobalLocalesFacet) {
    const std::locale previous =
        std::locale::global(std::locale(std::locale::classic(), new BracketTimePut));
    const std::string text = FormatDate("yyyy-MM-dd H 'at %Ey'", JULY_31);
    std::locale::global(previous);
    EXPECT_EQ(text, "[Y]-[m]-[d] 12 at [Ey]");
    EXPECT_EQ(FormatDate("yyyy", JULY_31), "2019");
}

TEST_F(DateTest, FormatsAndConvertsOnSeveralThreadsAtOnce) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int index = 0; index < 4; ++index)
        threads.emplace_back([index, &failures] {
            for (int round = 0; round < 300; ++round) {
                const int64_t t = JULY_31 + (index * 1000 + round) * 3600001LL;
                const std::string date = FormatDate("", t);
                failures[index] += date.size() != 28 || date != FormatDate("", t);
                failures[index] += FormatDuration("HH:mm:ss", 3723004) != "01:02:03";
                failures[index] += FromUtf8("ISO-8859-1", "\xC3\xA9t\xC3\xA9") != "\xE9t\xE9";
                failures[index] += ToUtf8("UTF-16LE", std::string("A\0", 2)) != "A";
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

} // namespace
