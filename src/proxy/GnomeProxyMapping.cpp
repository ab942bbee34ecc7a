#include "proxy/GnomeProxyMapping.h"

#include "internal/Text.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace OrnUtil::proxy {

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const size_t length = std::strlen(prefix);
    return text.size() >= length && strncasecmp(text.c_str(), prefix, length) == 0;
}

bool IsDigits(const std::string& text, size_t maxLength) {
    return !text.empty() && text.size() <= maxLength &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Dotted quad into its four octets; false for anything else.
bool ParseIPv4(const std::string& text, unsigned (&octets)[4]) {
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t end = i < 3 ? text.find('.', start) : text.size();
        if (end == std::string::npos)
            return false;
        const std::string octet = text.substr(start, end - start);
        if (!IsDigits(octet, 3) || std::stoul(octet) > 255)
            return false;
        octets[i] = static_cast<unsigned>(std::stoul(octet));
        start = end + 1;
    }
    return true;
}

// GNOME's hosts are often typed as URLs; the proxy list wants host alone, and a character that
// carries meaning in the list would corrupt the neighbouring entries.
void AddProxyEntry(std::string& list, const char* scheme, const GnomeProxyHost& proxy) {
    std::string host = internal::Trimmed(proxy.host);
    if (StartsWithNoCase(host, "http://"))
        host.erase(0, 7);
    while (!host.empty() && host.back() == '/')
        host.pop_back();
    if (host.empty() || host.find_first_of(";=/:@ \t\r\n") != std::string::npos)
        return;
    if (!list.empty())
        list += ';';
    list += scheme;
    list += '=';
    list += host;
    // Port 0 is GNOME's "not set": the host alone leaves the port to the proxy scheme's default.
    if (proxy.port > 0 && proxy.port <= 65535)
        list += ':' + std::to_string(proxy.port);
}

// A network with a prefix length becomes the wildcard patterns that cover exactly its addresses:
// one per value of the octet that the prefix cuts (at most 128).
void AddNetworkRules(std::vector<std::string>& rules, const std::string& network,
                     const std::string& port) {
    const size_t slash = network.find('/');
    unsigned octets[4];
    const std::string prefixText = network.substr(slash + 1);
    if (!ParseIPv4(network.substr(0, slash), octets) || !IsDigits(prefixText, 2))
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
    std::string entry = internal::Trimmed(raw);
    if (entry.empty() || entry.find_first_of("; \t\r\n") != std::string::npos || entry[0] == '[' ||
        std::count(entry.begin(), entry.end(), ':') > 1)
        return;
    std::string port;
    const size_t colon = entry.find(':');
    if (colon != std::string::npos) {
        port = entry.substr(colon);
        entry.erase(colon);
        if (!IsDigits(port.substr(1), 5) || std::stoul(port.substr(1)) > 65535)
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
    if (domain.find('*') != std::string::npos || ParseIPv4(domain, octets)) {
        rules.push_back(entry + port);
        return;
    }
    rules.push_back(domain + port);
    rules.push_back("*." + domain + port);
}

std::string Join(const std::vector<std::string>& parts) {
    std::string joined;
    for (const std::string& part : parts)
        joined += (joined.empty() ? "" : ";") + part;
    return joined;
}

} // namespace

std::optional<ProxySettings> MapGnomeProxySettings(const GnomeProxyValues& values) {
    ProxySettings settings;
    if (values.mode == "auto") {
        const std::string url = internal::Trimmed(values.autoconfigUrl);
        if (url.empty())
            settings.autoDetect = true;
        else
            settings.pacUrl = url[0] == '/' ? "file://" + url : url;
    } else if (values.mode == "manual") {
        std::string list;
        AddProxyEntry(list, "http", values.http);
        AddProxyEntry(list, "https", values.https);
        AddProxyEntry(list, "ftp", values.ftp);
        AddProxyEntry(list, "socks", values.socks);
        // Bypass rules without a proxy would change nothing, yet make this source look
        // configured.
        if (list.empty())
            return std::nullopt;
        settings.proxyList = list;
        std::vector<std::string> rules;
        for (const std::string& entry : values.ignoreHosts)
            AddBypassRules(rules, entry);
        if (!rules.empty())
            settings.bypassList = Join(rules);
    }
    if (!settings.Any())
        return std::nullopt;
    return settings;
}

} // namespace OrnUtil::proxy
