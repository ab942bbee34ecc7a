#include "text/ClassicTime.h"

#include <clocale>
#include <cstring>
#include <locale>
#include <memory>

namespace OrnUtil::DateTime {

namespace {

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

// The C locale for strftime_l; null when none could be had.
class CCLocale {
public:
    CCLocale() : m_Locale(newlocale(LC_ALL_MASK, "C", locale_t())) {}
    ~CCLocale() {
        if (m_Locale != locale_t())
            freelocale(m_Locale);
    }
    CCLocale(const CCLocale&) = delete;
    CCLocale& operator=(const CCLocale&) = delete;
    locale_t Get() const { return m_Locale; }

private:
    locale_t m_Locale;
};

const CCLocale C_LOCALE;

// Appends what strftime makes of the first `length` bytes of `cFormat`, which has room for a NUL
// behind them.
void Put(char* cFormat, size_t length, size_t conversions, const std::tm& tm, std::string& text) {
    if (length == 0)
        return;
    cFormat[length] = '\0';
    // No conversion gives more than 127 bytes, or the facet's buffer would not hold it either.
    CScratch scratch(length + 128 * conversions + 1);
    text.append(scratch.Data(), strftime_l(scratch.Data(), length + 128 * conversions + 1, cFormat,
                                           &tm, C_LOCALE.Get()));
}

} // namespace

bool ClassicTimeUsable(const std::tm& tm) {
    return C_LOCALE.Get() != locale_t() && std::locale() == std::locale::classic() &&
           (tm.tm_zone == nullptr || strnlen(tm.tm_zone, 128) < 128);
}

std::string ApplyClassicTime(std::string_view format, const std::tm& tm) {
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

std::string ApplyClassicTime(const Translated& translated, const std::tm& tm, int64_t ms) {
    CScratch scratch(translated.cFormatLength + LONGEST_NUMBER * translated.numbers + 1);
    char* const cFormat = scratch.Data();
    size_t length = 0;
    for (const Piece& piece : translated.pieces) {
        if (piece.kind == Kind::TEXT) {
            std::memcpy(cFormat + length, piece.cFormat.data(), piece.cFormat.size());
            length += piece.cFormat.size();
        } else {
            length += WriteNumber(cFormat + length, piece, tm, ms);
        }
    }
    std::string text;
    Put(cFormat, length, translated.conversions, tm, text);
    return text;
}

} // namespace OrnUtil::DateTime
