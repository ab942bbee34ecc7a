// One source's record of the user's proxy settings, in the form the resolver reads them.
#pragma once

#include <optional>
#include <string>

namespace OrnUtil::platform {

struct ProxySettings {
    bool autoDetect = false;
    // Each absent when the source does not set it. manualProxy is a ";"-joined list of
    // scheme=host:port entries (an entry without "scheme=" serves every scheme); bypass is a
    // ";"-joined list of host patterns.
    std::optional<std::string> pacUrl, manualProxy, bypass;

    // True when the record holds any setting at all.
    bool Any() const { return autoDetect || pacUrl || manualProxy || bypass; }
};

} // namespace OrnUtil::platform
