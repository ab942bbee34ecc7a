#include "text/ClassicTime.h"

#include <clocale>
#include <cstring>
#include <locale>
#include <memory>

namespace OrnUtil::DateTime {

namespace {

// Space for a text on the stack, or on the heap when it is larger.
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
    char m_Stack[1024]; // the default pattern asks for 167
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

} // namespace

bool ClassicTimeUsable(const std::tm& tm) {
    return C_LOCALE.Get() != locale_t() && std::locale() == std::locale::classic() &&
           (tm.tm_zone == nullptr || strnlen(tm.tm_zone, 128) < 128);
}

std::string ApplyClassicTime(const Translated& translated, const std::tm& tm, int64_t ms) {
    CScratch scratch(translated.longest);
    char* const text = scratch.Data();
    size_t length = 0;
    const Numbers numbers(tm, ms);
    for (const Piece& piece : translated.pieces) {
        if (piece.kind == Kind::TEXT && piece.text.size() == 1) {
            text[length++] = piece.text[0]; // a separator mostly, not worth a call to copy it
        } else if (piece.kind == Kind::TEXT) {
            std::memcpy(text + length, piece.text.data(), piece.text.size());
            length += piece.text.size();
        } else if (piece.field != Field::NONE) {
            length += WriteNumber(text + length, piece, numbers);
        } else {
            length += strftime_l(text + length, LONGEST_CONVERSION, piece.text.c_str(), &tm,
                                 C_LOCALE.Get());
        }
    }
    return std::string(text, length);
}

} // namespace OrnUtil::DateTime
