// What the GNOME desktop's proxy keys (org.gnome.system.proxy) mean as the resolver's settings
// record.
//
//   mode 'manual', http host 'p.corp' port 3128, ignore-hosts ['.corp']
//     -> proxy list "http=p.corp:3128", bypass list "corp;*.corp"
#pragma once

#include "proxy/ProxyPlatform.h"

#include <optional>
#include <string>
#include <vector>

namespace OrnUtil::proxy {

struct GnomeProxyHost {
    std::string host;
    int port = 0;
};

// The keys as GSettings holds them; keys that could not be read stay empty.
struct GnomeProxyValues {
    std::string mode;
    std::string autoconfigUrl;
    GnomeProxyHost http, https, ftp, socks;
    std::vector<std::string> ignoreHosts;
};

// The settings the raw values stand for: mode "auto" gives the PAC URL, or the auto-detect flag
// when there is none; mode "manual" gives the proxy list and the bypass list; anything else, or a
// manual mode without one usable host, gives nullopt.
std::optional<ProxySettings> MapGnomeProxySettings(const GnomeProxyValues& values);

} // namespace OrnUtil::proxy
