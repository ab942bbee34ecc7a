// The resolver's choice from an arbitrary discovery answer: "failed,proxies\nanswer". The answer
// comes from an auto-configuration script on a scripted platform; the listed proxies are tagged as
// failed first.
#include "FuzzSupport.h"
#include "ScriptedProxyPlatform.h"
#include "proxy/WinAutoProxy.h"

#include <set>

using fuzz::Require;

FUZZ_TARGET(input) {
    const bool tagged = input.find('\n') != std::string::npos;
    const auto [tags, rest] = fuzz::Fields<2>(input, '\n');
    const std::string& answer = tagged ? rest : tags;

    auto script = std::make_unique<testing_support::ScriptedProxyPlatform>();
    script->settings.pacUrl = "http://config.invalid/proxy.pac";
    script->scriptAnswers = {testing_support::ScriptedProxyPlatform::List(answer)};
    WinAutoProxy resolver(std::move(script));
    std::set<std::string> failed;
    for (const std::string& proxy : OrnUtil::internal::SplitList(tagged ? tags : "", ',')) {
        failed.insert(proxy);
        resolver.ProxyFailure(proxy);
    }

    std::string proxy;
    const bool decided = resolver.GetProxyForUrl("http://host.example/", proxy);
    if (decided && !proxy.empty())
        Require(failed.count(proxy) == 0 && answer.find(proxy) != std::string::npos);
    Require(!answer.empty() || !decided);
    resolver.ClearProxyFailures();
    if (decided && !proxy.empty()) {
        std::string again;
        Require(resolver.GetProxyForUrl("http://host.example/", again) && !again.empty());
    }
}
