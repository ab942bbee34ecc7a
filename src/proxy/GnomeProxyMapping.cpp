#include "proxy/GnomeProxyMapping.h"

#include "internal/Text.h"
#include "internal/Url.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace OrnUtil::proxy {

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const size_t length = std::strlen(prefix);
    return text.size() >= length && strncasecmp(text.c_str(), prefix, length) == 0;
}

// GNOME's hosts are often typed as URLs; the proxy list wants host alone, and a character that
// carries meaning in the list would corrupt the neighbouring entries.
void AddProxyEntry(std::vector<std::string>& entries, const char* scheme,
                   const GnomeProxyHost& proxy) {
    std::string host(internal::Trimmed(proxy.host));
    if (StartsWithNoCase(host, "http://"))
        host.erase(0, 7);
    while (!host.empty() && host.back() == '/')
        host.pop_back();
    if (host.empty() || host.find_first_of(";=/:@ \t\r\n") != std::string::npos)
        return;
    std::string entry = scheme + ("=" + host);
    // Port 0 is GNOME's "not set": the host alone leaves the port to the proxy scheme's default.
    if (proxy.port > 0 && proxy.port <= 65535)
        entry += ':' + std::to_string(proxy.port);
    entries.push_back(std::move(entry));
}

// A network with a prefix length becomes the wildcard patterns that cover exactly its addresses:
// one per value of the octet that the prefix cuts (at most 128).
void AddNetworkRules(std::vector<std::string>& rules, const std::string& network,
                     const std::string& port) {
    const size_t slash = network.find('/');
    unsigned octets[4];
    const std::string prefixText = network.substr(slash + 1);
    if (!internal::ParseIPv4(network.substr(0, slash), octets) ||
        !internal::IsDigits(prefixText, 2))
        return;
    const unsigned prefix = static_cast<unsigned>(std::stoul(prefixText));
    if (prefix > 32)
        return;
    const unsigned whole = prefix / 8, rest = prefix % 8;
    std::string head;
    for (unsigned i = 0; i < whole; ++i)
        head += std::to_string(octets[i]) + (i < 3 ? "." : "");
    if (rest == 0) {
        rules.push_back(whole == 4 ? head + port : head + "*" + port);
        return;
    }
    const unsigned mask = (0xFFu << (8 - rest)) & 0xFFu;
    const unsigned first = octets[whole] & mask, count = 1u << (8 - rest);
    for (unsigned value = first; value < first + count; ++value)
        rules.push_back(head + std::to_string(value) + (whole < 3 ? ".*" : "") + port);
}

// GNOME's entries (host, .domain, *.domain, IPv4 address, IPv4 network, each with an optional
// :port) name a domain together with its subdomains; the bypass rules match whole hosts, so a
// domain becomes two rules. IPv6 entries have no form in the bypass rules and are left out.
void AddBypassRules(std::vector<std::string>& rules, const std::string& raw) {
    std::string entry(internal::Trimmed(raw));
    if (entry.empty() || entry.find_first_of("; \t\r\n") != std::string::npos || entry[0] == '[' ||
        std::count(entry.begin(), entry.end(), ':') > 1)
        return;
    std::string port;
    const size_t colon = entry.find(':');
    if (colon != std::string::npos) {
        port = entry.substr(colon);
        entry.erase(colon);
        if (!internal::IsDigits(port.substr(1), 5) || std::stoul(port.substr(1)) > 65535)
            return;
    }
    if (entry.empty())
        return;
    if (entry.find('/') != std::string::npos) {
        AddNetworkRules(rules, entry, port);
        return;
    }
    std::string domain = entry;
    if (StartsWithNoCase(domain, "*."))
        domain.erase(0, 2);
    else if (domain[0] == '.')
        domain.erase(0, 1);
    if (domain.empty())
        return;
    // Addresses and other wildcard patterns already say exactly what they match.
    unsigned octets[4];
    if (domain.find('*') != std::string::npos || internal::ParseIPv4(domain, octets)) {
        rules.push_back(entry + port);
        return;
    }
    rules.push_back(domain + port);
    rules.push_back("*." + domain + port);
}

} // namespace

std::optional<ProxySettings> MapGnomeProxySettings(const GnomeProxyValues& values) {
    ProxySettings settings;
    if (values.mode == "auto") {
        const std::string_view url = internal::Trimmed(values.autoconfigUrl);
        if (url.empty())
            settings.autoDetect = true;
        else
            settings.pacUrl = internal::FileUrlOf(url);
    } else if (values.mode == "manual") {
        std::vector<std::string> entries;
        AddProxyEntry(entries, "http", values.http);
        AddProxyEntry(entries, "https", values.https);
        AddProxyEntry(entries, "ftp", values.ftp);
        AddProxyEntry(entries, "socks", values.socks);
        // Bypass rules without a proxy would change nothing, yet make this source look
        // configured.
        if (entries.empty())
            return std::nullopt;
        settings.proxyList = internal::JoinList(entries);
        std::vector<std::string> rules;
        for (const std::string& entry : values.ignoreHosts)
            AddBypassRules(rules, entry);
        if (!rules.empty())
            settings.bypassList = internal::JoinList(rules);
    }
    if (!settings.Any())
        return std::nullopt;
    return settings;
}

} // namespace OrnUtil::proxy
