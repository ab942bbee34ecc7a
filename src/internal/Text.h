// Small text operations that several families need: trimming, case, ";"-lists, digits and IPv4
// addresses. Bytes are ASCII-classified; nothing here depends on the locale.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace OrnUtil::internal {

constexpr std::string_view BLANKS = " \t\r\n";

// The text without leading and trailing `blanks`.
std::string_view Trimmed(std::string_view text, std::string_view blanks = BLANKS);
// The text with ASCII letters in lower case.
std::string Lowered(std::string text);

// The entries between separators, empty ones included: always one more than the separators.
std::vector<std::string> SplitList(std::string_view list, char separator = ';');
// The items joined with the separator between them.
std::string JoinList(const std::vector<std::string>& items, char separator = ';');

// True for one to `maxLength` ASCII digits and nothing else.
bool IsDigits(std::string_view text, size_t maxLength);

// A dotted quad of four decimal numbers of one to three digits up to 255 ("010" is 10), into its
// octets; false for anything else.
bool ParseIPv4(std::string_view text, unsigned (&octets)[4]);

} // namespace OrnUtil::internal
