#include "platform/Clock.h"
#include "platform/ProxyEnvironment.h"
#include "platform/ProxyPlatform.h"

#include <cstdlib>

namespace OrnUtil::platform {

namespace {

// No discovery and no script evaluation here yet: every automatic lookup fails the way it does on
// a network without WPAD or with an unreachable script, so that the resolver falls back to the
// manual settings.
class LinuxProxySession : public ProxySession {
public:
    uint32_t SetTimeouts(const ProxyTimeouts&) override { return 0; }
    ProxyAnswer GetProxyForUrl(const std::string&, const ProxyQuery& query) override {
        ProxyAnswer answer;
        answer.error = query.discover ? ProxyError::AUTODETECTION_FAILED
                                      : ProxyError::UNABLE_TO_DOWNLOAD_SCRIPT;
        return answer;
    }
};

class LinuxProxyPlatform : public ProxyPlatform {
public:
    bool ReadUserSettings(ProxySettings& settings) override {
        const EnvironmentLookup lookup = [](const char* name) -> const char* {
            return std::getenv(name);
        };
        if (!ProxySettingsFromEnvironment(lookup, settings))
            settings = ProxySettings();
        return true;
    }
    std::unique_ptr<ProxySession> OpenSession(const std::string&) override {
        return std::make_unique<LinuxProxySession>();
    }
    uint32_t TickCount() override { return platform::TickCount(); }
};

} // namespace

std::unique_ptr<ProxyPlatform> MakeSystemProxyPlatform() {
    return std::make_unique<LinuxProxyPlatform>();
}

} // namespace OrnUtil::platform
