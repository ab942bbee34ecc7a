#include "proxy/ProxyEnvironment.h"

#include "internal/Text.h"
#include "internal/Url.h"

#include <strings.h>

namespace OrnUtil::proxy {

namespace {

// Environment values are trimmed of blanks and tabs only: a line end is no part of a host.
std::string_view Trimmed(std::string_view text) {
    return internal::Trimmed(text, " \t");
}

bool IsHttpScheme(std::string_view scheme) {
    return scheme.size() == 4 && strncasecmp(scheme.data(), "http", 4) == 0;
}

// The lower-case name when it is set at all, else its upper-case twin.
const char* Variable(EnvironmentLookup lookup, const char* lower, const char* upper) {
    const char* value = lookup(lower);
    return value != nullptr ? value : lookup(upper);
}

} // namespace

std::optional<std::string> ProxyFromEnvironmentValue(std::string_view value) {
    std::string_view scheme, rest;
    if (internal::SplitScheme(Trimmed(value), scheme, rest) && !IsHttpScheme(scheme))
        return std::nullopt;
    const std::string_view authority = internal::AuthorityOf(rest);
    if (authority.empty())
        return std::nullopt;
    // These would split or re-label the entry once it is joined into the manual proxy list.
    for (const char c : authority)
        if (static_cast<unsigned char>(c) <= ' ' || c == ';' || c == '=' || c == ',' || c == 0x7f)
            return std::nullopt;
    return std::string(authority);
}

std::string BypassListFromNoProxy(std::string_view value) {
    std::vector<std::string> rules;
    for (const std::string& item : internal::SplitList(value, ',')) {
        std::string_view entry = Trimmed(item);
        if (entry == "*") {
            rules.emplace_back(entry);
            continue;
        }
        if (!entry.empty() && entry.front() == '.')
            entry.remove_prefix(1);
        if (entry.empty())
            continue;
        rules.emplace_back(entry);
        rules.push_back("*." + std::string(entry));
    }
    return internal::JoinList(rules);
}

bool ProxySettingsFromEnvironment(EnvironmentLookup lookup, ProxySettings& settings) {
    settings = ProxySettings();
    bool configured = false;
    if (const char* autoProxy = Variable(lookup, "auto_proxy", "AUTO_PROXY")) {
        configured = true;
        if (*autoProxy == '\0')
            settings.autoDetect = true;
        else
            settings.pacUrl = internal::FileUrlOf(autoProxy);
    }

    struct Source {
        const char* lower;
        const char* upper;
        const char* prefix;
    };
    static const Source sources[] = {{"all_proxy", "ALL_PROXY", ""},
                                     {"http_proxy", "HTTP_PROXY", "http="},
                                     {"https_proxy", "HTTPS_PROXY", "https="},
                                     {"ftp_proxy", "FTP_PROXY", "ftp="}};
    std::vector<std::string> entries;
    for (const Source& source : sources) {
        const char* value = Variable(lookup, source.lower, source.upper);
        if (value == nullptr)
            continue;
        if (const std::optional<std::string> proxy = ProxyFromEnvironmentValue(value))
            entries.push_back(source.prefix + *proxy);
    }
    if (!entries.empty()) {
        configured = true;
        settings.proxyList = internal::JoinList(entries);
    }

    if (const char* noProxy = Variable(lookup, "no_proxy", "NO_PROXY")) {
        std::string bypass = BypassListFromNoProxy(noProxy);
        if (!bypass.empty())
            settings.bypassList = std::move(bypass);
    }
    return configured;
}

} // namespace OrnUtil::proxy
