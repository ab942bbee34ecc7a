// The GNOME desktop's proxy settings (org.gnome.system.proxy), read through GSettings loaded at run
// time, so that machines without GNOME need nothing of it.
#pragma once

#include "platform/ProxyPlatform.h"

#include <optional>
#include <string>
#include <vector>

namespace OrnUtil::platform {

inline constexpr char GIO_LIBRARY[] = "libgio-2.0.so.0";

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

// The user's GNOME proxy settings; nullopt when gio cannot be loaded from `gioLibrary`, the schema
// is not installed or it holds no setting. The default library stays loaded for the process.
std::optional<ProxySettings> ReadGnomeProxySettings(const char* gioLibrary = GIO_LIBRARY);

} // namespace OrnUtil::platform
