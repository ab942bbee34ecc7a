#include "proxy/ProxyEnvironment.h"

#include <strings.h>

namespace OrnUtil::proxy {

namespace {

std::string_view Trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
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
    value = Trimmed(value);
    const size_t schemeEnd = value.find("://");
    if (schemeEnd != std::string_view::npos) {
        if (!IsHttpScheme(value.substr(0, schemeEnd)))
            return std::nullopt;
        value.remove_prefix(schemeEnd + 3);
    }
    std::string_view authority = value.substr(0, value.find_first_of("/?#"));
    const size_t at = authority.rfind('@');
    if (at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    if (authority.empty())
        return std::nullopt;
    // These would split or re-label the entry once it is joined into the manual proxy list.
    for (const char c : authority)
        if (static_cast<unsigned char>(c) <= ' ' || c == ';' || c == '=' || c == ',' || c == 0x7f)
            return std::nullopt;
    return std::string(authority);
}

std::string BypassListFromNoProxy(std::string_view value) {
    std::string rules;
    auto add = [&rules](std::string_view rule) {
        if (!rules.empty())
            rules += ';';
        rules.append(rule.data(), rule.size());
    };
    while (!value.empty()) {
        const size_t comma = value.find(',');
        std::string_view entry = Trimmed(value.substr(0, comma));
        value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
        if (entry == "*") {
            add(entry);
            continue;
        }
        if (!entry.empty() && entry.front() == '.')
            entry.remove_prefix(1);
        if (entry.empty())
            continue;
        add(entry);
        add("*.");
        rules.append(entry.data(), entry.size());
    }
    return rules;
}

bool ProxySettingsFromEnvironment(EnvironmentLookup lookup, ProxySettings& settings) {
    settings = ProxySettings();
    bool configured = false;
    if (const char* autoProxy = Variable(lookup, "auto_proxy", "AUTO_PROXY")) {
        configured = true;
        if (*autoProxy == '\0')
            settings.autoDetect = true;
        else
            settings.pacUrl = *autoProxy == '/' ? "file://" + std::string(autoProxy) : autoProxy;
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
    std::string list;
    for (const Source& source : sources) {
        const char* value = Variable(lookup, source.lower, source.upper);
        if (value == nullptr)
            continue;
        const std::optional<std::string> proxy = ProxyFromEnvironmentValue(value);
        if (!proxy)
            continue;
        if (!list.empty())
            list += ';';
        list += source.prefix;
        list += *proxy;
    }
    if (!list.empty()) {
        configured = true;
        settings.proxyList = std::move(list);
    }

    if (const char* noProxy = Variable(lookup, "no_proxy", "NO_PROXY")) {
        std::string bypass = BypassListFromNoProxy(noProxy);
        if (!bypass.empty())
            settings.bypassList = std::move(bypass);
    }
    return configured;
}

} // namespace OrnUtil::proxy
