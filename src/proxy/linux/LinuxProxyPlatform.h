// The proxy platform of a Linux system: the user's settings from the environment or the GNOME
// desktop, discovery by WPAD and PAC scripts.
#pragma once

#include "proxy/ProxyPlatform.h"

#include <memory>

namespace OrnUtil::proxy {

// The system's platform: settings from the environment (auto_proxy, all_proxy, http_proxy,
// https_proxy, ftp_proxy, no_proxy and their upper-case twins) or the desktop, WPAD and PAC.
std::unique_ptr<ProxyPlatform> MakeSystemProxyPlatform();

// Where this system's settings came from: the proxy variables of the environment, else the
// desktop's settings, else nowhere (an empty record).
enum class ProxySettingsSource { ENVIRONMENT, DESKTOP, NONE };
ProxySettingsSource ReadSystemProxySettings(ProxySettings& settings);

} // namespace OrnUtil::proxy
