#include "internal/Text.h"

namespace OrnUtil::internal {

std::string_view Trimmed(std::string_view text, std::string_view blanks) {
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string Lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::vector<std::string> SplitList(std::string_view list, char separator) {
    std::vector<std::string> entries;
    for (;;) {
        const size_t end = list.find(separator);
        entries.emplace_back(list.substr(0, end));
        if (end == std::string_view::npos)
            return entries;
        list.remove_prefix(end + 1);
    }
}

std::string JoinList(const std::vector<std::string>& items, char separator) {
    std::string joined;
    for (const std::string& item : items) {
        if (&item != &items.front())
            joined += separator;
        joined += item;
    }
    return joined;
}

bool IsDigits(std::string_view text, size_t maxLength) {
    if (text.empty() || text.size() > maxLength)
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool ParseIPv4(std::string_view text, unsigned (&octets)[4]) {
    for (int i = 0; i < 4; ++i) {
        const size_t dot = text.find('.');
        if ((i == 3) != (dot == std::string_view::npos))
            return false;
        const std::string_view octet = text.substr(0, dot);
        if (!IsDigits(octet, 3))
            return false;
        unsigned value = 0;
        for (const char c : octet)
            value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 255)
            return false;
        octets[i] = value;
        text.remove_prefix(i == 3 ? text.size() : dot + 1);
    }
    return true;
}

} // namespace OrnUtil::internal
