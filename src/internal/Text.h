// Small text operations that several families need.
#pragma once

#include <algorithm>
#include <cctype>
#include <string>

namespace OrnUtil::internal {

// The text without leading and trailing blanks, tabs and line ends.
inline std::string Trimmed(const std::string& text) {
    const char* const BLANKS = " \t\r\n";
    const size_t first = text.find_first_not_of(BLANKS);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(BLANKS) - first + 1);
}

// The text with ASCII letters in lower case.
inline std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace OrnUtil::internal
