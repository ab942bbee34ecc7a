#include "proxy/linux/LinuxProxyPlatform.h"

#include "platform/Clock.h"
#include "proxy/ProxyEnvironment.h"
#include "proxy/linux/GnomeProxySettings.h"
#include "proxy/linux/LinuxProxySession.h"

#include <cstdlib>

namespace OrnUtil::proxy {

namespace {

class LinuxProxyPlatform : public ProxyPlatform {
public:
    bool ReadUserSettings(ProxySettings& settings) override {
        ReadSystemProxySettings(settings);
        return true;
    }
    std::unique_ptr<ProxySession> OpenSession(const std::string&) override {
        return std::make_unique<LinuxProxySession>();
    }
    uint32_t TickCount() override { return platform::TickCount(); }
};

} // namespace

ProxySettingsSource ReadSystemProxySettings(ProxySettings& settings) {
    const EnvironmentLookup lookup = [](const char* name) -> const char* {
        return std::getenv(name);
    };
    // The first source that holds any setting wins.
    if (ProxySettingsFromEnvironment(lookup, settings))
        return ProxySettingsSource::ENVIRONMENT;
    if (std::optional<ProxySettings> desktop = ReadGnomeProxySettings()) {
        settings = *desktop;
        return ProxySettingsSource::DESKTOP;
    }
    settings = ProxySettings();
    return ProxySettingsSource::NONE;
}

std::unique_ptr<ProxyPlatform> MakeSystemProxyPlatform() {
    return std::make_unique<LinuxProxyPlatform>();
}

} // namespace OrnUtil::proxy
