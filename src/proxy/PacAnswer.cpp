#include "proxy/PacAnswer.h"

#include "internal/Text.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <strings.h>

namespace OrnUtil::proxy {

namespace {

using internal::Lowered;
using internal::Trimmed;

// A host:port as a PAC script writes it: no blanks, no separators, nothing a proxy URL would
// misread.
bool IsHostPort(const std::string& text) {
    return !text.empty() && text.find_first_of(";/@?#") == std::string::npos &&
           std::none_of(text.begin(), text.end(),
                        [](unsigned char c) { return c <= ' ' || c == 0x7f; });
}

// The translated form of one entry, or the empty text when it has no form we use.
std::string TranslateEntry(const std::string& entry) {
    if (strcasecmp(entry.c_str(), "DIRECT") == 0)
        return "DIRECT";
    const size_t blank = entry.find_first_of(" \t\r\n");
    if (blank == std::string::npos)
        return std::string();
    const std::string keyword = entry.substr(0, blank);
    const std::string host = Lowered(std::string(Trimmed(entry.substr(blank))));
    if (!IsHostPort(host))
        return std::string();
    static const struct {
        const char* keyword;
        const char* prefix;
    } FORMS[] = {{"PROXY", "PROXY "},    {"HTTP", "PROXY "},      {"HTTPS", "https://"},
                 {"SOCKS", "socks4://"}, {"SOCKS4", "socks4://"}, {"SOCKS5", "socks5://"}};
    for (const auto& form : FORMS)
        if (strcasecmp(keyword.c_str(), form.keyword) == 0)
            return form.prefix + host;
    return std::string();
}

} // namespace

std::string TranslatePacAnswer(const std::string& answer) {
    std::vector<std::string> entries;
    bool onlyDirect = true;
    for (const std::string& item : internal::SplitList(answer)) {
        std::string entry = TranslateEntry(std::string(Trimmed(item)));
        if (entry.empty())
            continue;
        onlyDirect = onlyDirect && entry == "DIRECT";
        entries.push_back(std::move(entry));
    }
    return onlyDirect ? std::string() : internal::JoinList(entries);
}

} // namespace OrnUtil::proxy
