// Discovery and PAC evaluation for the proxy resolver on Linux: WPAD by DNS, scripts fetched with
// libcurl and run in a bounded interpreter, cached for the session.
#pragma once

#include "proxy/ProxyPlatform.h"
#include "proxy/linux/PacScript.h"

#include <map>
#include <memory>
#include <optional>

namespace OrnUtil::proxy {

class LinuxProxySession : public ProxySession {
public:
    uint32_t SetTimeouts(const ProxyTimeouts& timeouts) override;
    ProxyAnswer GetProxyForUrl(const std::string& url, const ProxyQuery& query) override;

private:
    ProxyAnswer FromScript(const std::string& scriptUrl, const std::string& url,
                           const std::string& host);
    ProxyAnswer Discover(const std::string& url, const std::string& host);
    // The cached script for `scriptUrl`, fetched and compiled on first use; null with `error` set
    // to the code of the failure.
    std::shared_ptr<CPacScript> Script(const std::string& scriptUrl, uint32_t& error);
    std::shared_ptr<CPacScript> Compile(const std::string& source, uint32_t& error);

    ProxyTimeouts m_Timeouts{500, 250, 150, 500};
    std::map<std::string, std::shared_ptr<CPacScript>> m_Scripts; // by script URL
    std::optional<std::string> m_Discovered;                      // the WPAD URL that answered
};

// The host of an absolute URL with a scheme a proxy can carry (http, https, ftp, ws, wss), or
// 12005 (malformed) or 12006 (another scheme) in `error`.
std::string ProxyTargetHost(const std::string& url, uint32_t& error);

} // namespace OrnUtil::proxy
