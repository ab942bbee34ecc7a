// Encodings and dates: a text through legacy character sets and back, dates and durations in the
// patterns the family's users write.
#include "Tour.h"

#include <OrnUtils.h>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Hex(const std::string& bytes) {
    static const char DIGITS[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : bytes)
        text += std::string{DIGITS[byte >> 4], DIGITS[byte & 15], ' '};
    return text;
}

void Dates() {
    const int64_t t = 1564575889123; // 2019-07-31T12:24:49.123 UTC
    std::cout << "The time " << t << " ms in this machine's time zone:\n";
    for (const char* pattern : {"", "yyyyMMdd-HHmmss", "EEEE, d MMMM yyyy 'at' h:mm a",
                                "dd.MM.yy HH:mm:ss,SSS z", "'week' w, 'day' D"})
        std::cout << "  \"" << pattern << "\" -> " << OrnUtil::DateTime::FormatDate(pattern, t)
                  << "\n";
    std::cout << "A duration of 3723004 ms (1 h 2 min 3.004 s):\n";
    for (const char* pattern : {"", "HH:mm:ss.SSS", "H'h' m'min' s.SSS's'"})
        std::cout << "  \"" << pattern << "\" -> "
                  << OrnUtil::DateTime::FormatDuration(pattern, 3723004) << "\n";
    std::cout << "A time before 1970 has no date: \"" << OrnUtil::DateTime::FormatDate("", -1)
              << "\"\n";
}

void Latin1() {
    const std::string text = "Caf\xC3\xA9 cr\xC3\xA8me, 5 \xE2\x82\xAC";
    std::vector<char> latin1;
    bool whole = OrnUtil::fromUTF8("ISO-8859-1", text.data(), int32_t(text.size()), latin1);
    std::cout << "\"" << text << "\" to ISO-8859-1: " << (whole ? "whole" : "stopped") << ", "
              << Hex(std::string(latin1.begin(), latin1.end())) << "(no euro sign in Latin-1)\n";
    whole = OrnUtil::fromUTF8("ISO-8859-1//TRANSLIT", text.data(), int32_t(text.size()), latin1);
    std::string back;
    OrnUtil::toUTF8("ISO-8859-1", latin1.data(), uint32_t(latin1.size()), back);
    std::cout << "With //TRANSLIT the euro becomes EUR: \"" << back << "\", and the call says "
              << (whole ? "true" : "false") << " as iconv counted a substitution\n";
}

void Utf16WithMark() {
    const std::string text = "\xC3\x9C"
                             "ber 20 \xC2\xB0"
                             "C";
    std::vector<char> utf16;
    OrnUtil::fromUTF8("UTF-16LE", text.data(), int32_t(text.size()), utf16);
    const std::string file = "\xFF\xFE" + std::string(utf16.begin(), utf16.end());
    std::cout << "\"" << text << "\" as a UTF-16LE file with its mark: " << Hex(file) << "\n";

    std::istringstream stream(file);
    const UTF::BOM bom = UTF::GetBOM(stream);
    const std::string rest((std::istreambuf_iterator<char>(stream)), {});
    std::string back;
    OrnUtil::toUTF8(bom == UTF::BOM_UTF16LE ? "UTF-16LE" : "UTF-8", rest.data(),
                    uint32_t(rest.size()), back);
    std::cout << "Read back: mark " << (bom == UTF::BOM_UTF16LE ? "UTF-16LE" : "other")
              << ", text \"" << back << "\"" << (back == text ? " (unchanged)" : "") << "\n";
}

} // namespace

void TourText() {
    Section("Dates, durations and text encodings");
    Dates();
    Latin1();
    Utf16WithMark();
}
