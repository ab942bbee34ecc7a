#include "proxy/ManualProxyConfig.h"

#include "internal/Text.h"
#include "log/LogStatement.h"

#include <cstdlib>

namespace OrnUtil::internal {

namespace {

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsLetterOrDigit(char c) {
    return IsLetter(c) || IsDigit(c);
}

bool IsLabelBody(std::string_view text) {
    for (const char c : text)
        if (!IsLetterOrDigit(c) && c != '-')
            return false;
    return true;
}

// [a-zA-Z0-9] | [a-zA-Z0-9][a-zA-Z0-9\-]*[a-zA-Z0-9]
bool IsHostLabel(std::string_view label) {
    return !label.empty() && IsLetterOrDigit(label.front()) && IsLetterOrDigit(label.back()) &&
           IsLabelBody(label);
}

} // namespace

bool MatchesHostNamePattern(std::string_view text) {
    for (;;) {
        const size_t dot = text.find('.');
        if (!IsHostLabel(text.substr(0, dot)))
            return false;
        if (dot == std::string_view::npos)
            return true;
        text.remove_prefix(dot + 1);
    }
}

bool MatchesSingleLabelPattern(std::string_view text) {
    return !text.empty() && IsLetter(text.front()) && IsLabelBody(text);
}

bool MatchesPortPattern(std::string_view text) {
    return IsDigits(text, 5);
}

} // namespace OrnUtil::internal

using namespace OrnUtil::internal;

namespace {

const char* const SCHEME_NAMES[] = {"http", "https", "ftp", "gopher", "socks"};

// A port text that the pattern accepts has at most five digits, so strtol cannot overflow.
bool PortValue(const std::string& text, uint32_t& port) {
    if (!MatchesPortPattern(text))
        return false;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > 65535)
        return false;
    port = static_cast<uint32_t>(value);
    return true;
}

} // namespace

void ManualProxyConfig::Update(const std::string& proxyList, const std::string& bypassList) {
    SetProxyList(Lowered(proxyList));
    SetBypassList(Lowered(bypassList));
}

std::string ManualProxyConfig::FindProxy(const std::string& url) const {
    std::string scheme;
    const std::string hostPart = ExtractHostPart(Lowered(url), "://", scheme);
    if (m_BypassLocal && hostPart.find('.') == std::string::npos)
        return std::string();
    if (IsBypassed(hostPart, scheme))
        return std::string();
    for (int slot = 0; slot < SCHEMES; ++slot)
        if (scheme == SCHEME_NAMES[slot])
            return m_Proxy[slot];
    return std::string();
}

bool ManualProxyConfig::IsValidHost(const std::string& proxy, bool allowWildcard) {
    const size_t colon = proxy.find(':');
    const std::string host = proxy.substr(0, colon);
    if (colon != std::string::npos) {
        uint32_t port = 0;
        if (!PortValue(proxy.substr(colon + 1), port))
            return false;
    }
    if (host.size() > 253)
        return false;
    std::string candidate = host;
    if (allowWildcard)
        for (char& c : candidate)
            if (c == '*')
                c = 'a';
    const bool valid = candidate.find('.') != std::string::npos
                           ? MatchesHostNamePattern(candidate)
                           : MatchesSingleLabelPattern(candidate);
    if (!valid) {
        ORN_LOG_STATIC(WARN, ManualProxyConfig, "ManualProxyConfig::IsValidHost")
            << "Ignored invalid manual proxy :" << proxy << "( bad host name " << host << ")";
    }
    return valid;
}

void ManualProxyConfig::SetProxyList(const std::string& list) {
    if (list == m_ProxyListText)
        return;
    m_ProxyListText = list;
    for (std::string& proxy : m_Proxy)
        proxy.clear();
    for (const std::string& entry : SplitList(list))
        AddProxyEntry(entry);
}

void ManualProxyConfig::SetBypassList(const std::string& list) {
    if (list == m_BypassListText)
        return;
    m_BypassListText = list;
    m_BypassRules.clear();
    m_BypassLocal = false;
    for (const std::string& entry : SplitList(list)) {
        if (entry == "<local>")
            m_BypassLocal = true;
        else if (!entry.empty())
            m_BypassRules.emplace_back(entry);
    }
}

void ManualProxyConfig::AddProxyEntry(const std::string& entry) {
    std::string scheme;
    const std::string value =
        ExtractHostPart(entry, entry.find('=') != std::string::npos ? "=" : "://", scheme);
    if (!IsValidHost(value, true))
        return;
    for (int slot = 0; slot < SCHEMES; ++slot)
        if (scheme.empty() || scheme == SCHEME_NAMES[slot]) {
            m_Proxy[slot] = value;
            if (!scheme.empty())
                return;
        }
}

bool ManualProxyConfig::IsBypassed(const std::string& hostPart, const std::string& scheme) const {
    // A port that is not a number stays part of the host.
    uint32_t port = 0;
    const std::string host =
        ParsePort(hostPart, port) ? hostPart.substr(0, hostPart.find(':')) : hostPart;
    for (const BypassRule& rule : m_BypassRules)
        if (rule.Matches(host, scheme, port))
            return true;
    return false;
}

std::string ManualProxyConfig::ExtractHostPart(const std::string& text,
                                               const std::string& separator, std::string& head) {
    const size_t found = text.find(separator);
    std::string rest;
    if (found != std::string::npos) {
        head = text.substr(0, found);
        rest = text.substr(found + separator.size());
    } else {
        head.clear();
        rest = text;
    }
    return rest.substr(0, rest.find('/'));
}

bool ManualProxyConfig::ParsePort(const std::string& text, uint32_t& port) {
    const size_t colon = text.find(':');
    return colon != std::string::npos && PortValue(text.substr(colon + 1), port);
}

ManualProxyConfig::BypassRule::BypassRule(const std::string& entry) {
    const std::string hostPart = ExtractHostPart(entry, "://", m_Scheme);
    const std::string pattern = hostPart.substr(0, hostPart.find(':'));
    size_t start = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '*')
            continue;
        if (i == 0)
            m_WildcardStart = true;
        m_Parts.push_back(pattern.substr(start, i - start));
        start = i + 1;
        if (start == pattern.size())
            m_WildcardEnd = true;
    }
    m_Parts.push_back(pattern.substr(start));
    uint32_t port = 0;
    if (ParsePort(hostPart, port))
        m_Port = port;
}

bool ManualProxyConfig::BypassRule::Matches(const std::string& host, const std::string& scheme,
                                            uint32_t port) const {
    if (!m_Scheme.empty() && m_Scheme != scheme)
        return false;
    if (m_Port != 0 && m_Port != port)
        return false;
    size_t position = 0;
    bool first = true;
    // The first occurrence of each piece, without backtracking, as the settings' own matcher does.
    for (const std::string& part : m_Parts) {
        const size_t found = host.find(part, position);
        if (found == std::string::npos)
            return false;
        if (first && !m_WildcardStart && found != 0)
            return false;
        first = false;
        position = found + part.size();
    }
    return m_WildcardEnd || position == host.size();
}
