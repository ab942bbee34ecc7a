// The GNOME desktop's proxy settings (org.gnome.system.proxy), read through GSettings loaded at run
// time, so that machines without GNOME need nothing of it.
#pragma once

#include "proxy/ProxyPlatform.h"

#include <optional>

namespace OrnUtil::proxy {

// The user's GNOME proxy settings; nullopt when gio cannot be loaded, the schema is not installed
// or it holds no setting. gio stays loaded for the process once it has been.
std::optional<ProxySettings> ReadGnomeProxySettings();

} // namespace OrnUtil::proxy
