#include "log/LogStatement.h"

#include "log/LineBuffer.h"
#include "log/ThreadScratch.h"
#include "platform/Thread.h"

#include <cstring>
#include <string>
#include <unordered_map>

namespace OrnUtil::internal {

namespace {

// Demangling allocates and costs more than the rest of the line, so each thread keeps the texts of
// the classes it has logged from, keyed by address (hashing the mangled name costs as much again).
using ClassNames = std::unordered_map<const std::type_info*, std::string>;

const std::string& ClassText(const std::type_info& type, std::string& uncached) {
    ClassNames* names = ThreadScratch<ClassNames>();
    if (names == nullptr)
        return uncached = className(type.name());
    auto found = names->find(&type);
    if (found == names->end())
        found = names->emplace(&type, className(type.name())).first;
    return found->second;
}

// Collects the prefix and hands it to the line in as few writes as it can: each write to a stream
// costs more than formatting the numbers by hand.
class Prefix {
public:
    explicit Prefix(std::ostream& line) : m_Line(line) {}
    ~Prefix() { Flush(); }

    Prefix& operator<<(const char* text) { return Append(text, std::strlen(text)); }
    Prefix& operator<<(const std::string& text) { return Append(text.data(), text.size()); }
    Prefix& operator<<(char c) { return Append(&c, 1); }

    // The base is a constant: a division by a variable costs more than the rest of the number.
    template <unsigned long BASE>
    Prefix& Number(unsigned long value) {
        char digits[24];
        char* end = digits + sizeof digits;
        char* begin = end;
        do {
            *--begin = "0123456789abcdef"[value % BASE];
            value /= BASE;
        } while (value != 0);
        return Append(begin, static_cast<size_t>(end - begin));
    }

private:
    Prefix& Append(const char* text, size_t size) {
        if (m_Size + size > sizeof m_Text)
            Flush();
        if (size > sizeof m_Text) {
            m_Line.write(text, static_cast<std::streamsize>(size));
        } else {
            std::memcpy(m_Text + m_Size, text, size);
            m_Size += size;
        }
        return *this;
    }
    void Flush() {
        LineBuffer::Append(m_Line, m_Text, m_Size);
        m_Size = 0;
    }

    std::ostream& m_Line;
    char m_Text[256];
    size_t m_Size = 0;
};

} // namespace

std::ostream& LogPrefix(std::ostream& line, const std::type_info& type, int sourceLine,
                        const char* function) {
    std::string uncached;
    Prefix prefix(line);
    prefix.Number<16>(platform::CurrentThreadId()) << ':' << ClassText(type, uncached) << ':';
    prefix.Number<10>(static_cast<unsigned long>(sourceLine)) << ':' << function << ':';
    return line;
}

std::ostream& LogFilePrefix(std::ostream& line, const char* file, int sourceLine,
                            const char* function) {
    const char* slash = std::strrchr(file, '/');
    Prefix prefix(line);
    prefix << (slash != nullptr ? slash + 1 : file) << ':';
    prefix.Number<10>(static_cast<unsigned long>(sourceLine)) << ':' << function << ':';
    return line;
}

} // namespace OrnUtil::internal
