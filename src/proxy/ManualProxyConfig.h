// The user's manual proxy settings in parsed form: which proxy carries a request for a URL.
//
//   ManualProxyConfig manual;
//   manual.Update("http=proxy.corp:8080;https=secure.corp:8443", "*.intranet;<local>");
//   manual.FindProxy("https://host.example/x");   // "secure.corp:8443"; "" means go direct
//
// Internal: only the proxy resolver uses it, under its own lock.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <string_view>

class ManualProxyConfig {
public:
    ManualProxyConfig() = default;

    // Lower-cases both lists and applies whichever of them changed since the last call.
    void Update(const std::string& proxyList, const std::string& bypassList);
    // The proxy (host or host:port) for the URL's scheme, or "" for a direct connection.
    std::string FindProxy(const std::string& url) const;

    // A proxy entry's host[:port]: a host name or IPv4 address of at most 253 bytes, and a port of
    // one to five digits up to 65535. A bad host name is logged at WARN; false for any fault.
    static bool IsValidHost(const std::string& proxy, bool allowWildcard);

private:
    static constexpr int SCHEMES = 5;

    class BypassRule {
    public:
        explicit BypassRule(const std::string& entry);
        bool Matches(const std::string& host, const std::string& scheme, uint32_t port) const;

    private:
        std::list<std::string> m_Parts;
        std::string m_Scheme;
        bool m_WildcardEnd = false;
        bool m_WildcardStart = false;
        uint32_t m_Port = 0;
    };

    void SetProxyList(const std::string& list);
    void SetBypassList(const std::string& list);
    void AddProxyEntry(const std::string& entry);
    bool IsBypassed(const std::string& hostPart, const std::string& scheme) const;
    static std::string ExtractHostPart(const std::string& text, const std::string& separator,
                                       std::string& head);
    static bool ParsePort(const std::string& text, uint32_t& port);

    std::string m_Proxy[SCHEMES];
    std::list<BypassRule> m_BypassRules;
    std::string m_ProxyListText;
    std::string m_BypassListText;
    bool m_BypassLocal = false;
};

namespace OrnUtil::internal {

// The validation patterns of proxy hosts, matched against the whole text. Each accepts exactly
// what its regular expression accepts:
//   host name     ^(([a-zA-Z0-9]|[a-zA-Z0-9][a-zA-Z0-9\-]*[a-zA-Z0-9])\.)*
//                  ([A-Za-z0-9]|[A-Za-z0-9][A-Za-z0-9\-]*[A-Za-z0-9])$
//   single label  ^([a-zA-Z][a-zA-Z0-9\-]*)$
//   port          ^([0-9]{1,5})
// Written out by hand: they are cheap, hold no state, and cannot recurse deeply on long input. A
// dotted IPv4 address needs no pattern of its own: it is a host name of digit labels.
bool MatchesHostNamePattern(std::string_view text);
bool MatchesSingleLabelPattern(std::string_view text);
bool MatchesPortPattern(std::string_view text);

} // namespace OrnUtil::internal
