// The resolver's choice from an arbitrary discovery answer: "failed,proxies\nanswer". The answer
// comes from an auto-configuration script on a scripted platform; the listed proxies are tagged as
// failed first.
#include "FuzzSupport.h"
#include "ScriptedProxyPlatform.h"
#include "proxy/WinAutoProxy.h"

#include <OrnUtil/Log.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SilenceLog();
    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t newline = text.find('\n');
    const std::string tags = newline == std::string::npos ? std::string() : text.substr(0, newline);
    const std::string answer = newline == std::string::npos ? text : text.substr(newline + 1);

    auto script = std::make_unique<testing_support::ScriptedProxyPlatform>();
    script->settings.pacUrl = "http://config.invalid/proxy.pac";
    script->scriptAnswers = {testing_support::ScriptedProxyPlatform::List(answer)};
    WinAutoProxy resolver(std::move(script));
    std::set<std::string> failed;
    for (size_t start = 0; start <= tags.size();) {
        size_t end = tags.find(',', start);
        if (end == std::string::npos)
            end = tags.size();
        failed.insert(tags.substr(start, end - start));
        resolver.ProxyFailure(tags.substr(start, end - start));
        start = end + 1;
    }

    std::string proxy;
    const bool decided = resolver.GetProxyForUrl("http://host.example/", proxy);
    if (decided && !proxy.empty() &&
        (failed.count(proxy) != 0 || answer.find(proxy) == std::string::npos))
        std::abort();
    if (answer.empty() && decided)
        std::abort();
    resolver.ClearProxyFailures();
    if (decided && !proxy.empty()) {
        std::string again;
        if (!resolver.GetProxyForUrl("http://host.example/", again) || again.empty())
            std::abort();
    }
    return 0;
}
