// What the proxy resolver asks of the system: the user's proxy settings, a session in which proxy
// discovery and auto-configuration scripts run under the resolver's timeouts, and a tick count.
//
// The shape follows the calls the resolver was designed around, so that its decisions stay in
// WinAutoProxy and an implementation only answers. Failures are reported with the error codes the
// resolver tells apart (ProxyError); an implementation maps its own failures onto them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace OrnUtil::proxy {

// The codes a proxy lookup fails with. Other values may be returned; the resolver treats them as
// passing failures.
namespace ProxyError {
constexpr uint32_t TIMEOUT = 12002;
constexpr uint32_t INVALID_URL = 12005;
constexpr uint32_t UNRECOGNIZED_SCHEME = 12006;
constexpr uint32_t LOGIN_FAILURE = 12015;
constexpr uint32_t BAD_AUTO_PROXY_SCRIPT = 12166;
constexpr uint32_t UNABLE_TO_DOWNLOAD_SCRIPT = 12167;
constexpr uint32_t AUTO_PROXY_SERVICE_ERROR = 12178;
constexpr uint32_t AUTODETECTION_FAILED = 12180;
} // namespace ProxyError

// The user's settings record; each text may be absent.
struct ProxySettings {
    bool autoDetect = false;
    std::optional<std::string> pacUrl;
    // "host:port" for every scheme, or entries "scheme=host:port" joined with ";".
    std::optional<std::string> proxyList;
    // Bypass rules joined with ";" ("*.corp", "10.1.*", "<local>").
    std::optional<std::string> bypassList;

    // True when the record holds any setting at all.
    bool Any() const { return autoDetect || pacUrl || proxyList || bypassList; }
};

struct ProxyTimeouts {
    int resolveMs, connectMs, sendMs, receiveMs;
};

// Ways of discovery, combinable.
enum DiscoveryMethod : uint32_t { DISCOVER_BY_DHCP = 1, DISCOVER_BY_DNS = 2 };

// One lookup: by discovery (scriptUrl unused) or from the script at scriptUrl.
struct ProxyQuery {
    bool discover = false;
    uint32_t discoveryMethods = 0;
    std::string scriptUrl;
    bool autoLogonIfChallenged = false;
};

struct ProxyAnswer {
    uint32_t error = 0; // 0 on success
    // On success: entries joined with ";" ("PROXY h:p", "h:p", "DIRECT", "socks5://h:p"), or
    // absent for a direct connection.
    std::optional<std::string> proxyList;
    std::optional<std::string> bypassList;
};

// Lives from the first automatic lookup until the resolver's Reset; whatever an implementation
// caches (downloaded scripts) lives as long.
class ProxySession {
public:
    virtual ~ProxySession() = default;
    // 0, or the error code.
    virtual uint32_t SetTimeouts(const ProxyTimeouts& timeouts) = 0;
    virtual ProxyAnswer GetProxyForUrl(const std::string& url, const ProxyQuery& query) = 0;
};

class ProxyPlatform {
public:
    virtual ~ProxyPlatform() = default;
    // Fills `settings` from the user's configuration, read afresh; false when it cannot be read.
    virtual bool ReadUserSettings(ProxySettings& settings) = 0;
    // A session that never goes through a proxy itself, or null when none can be opened.
    virtual std::unique_ptr<ProxySession> OpenSession(const std::string& userAgent) = 0;
    // Milliseconds, 32 bits, wrapping.
    virtual uint32_t TickCount() = 0;
};

} // namespace OrnUtil::proxy
