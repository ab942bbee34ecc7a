// Manual proxy settings from arbitrary text: "proxy list\nbypass list\nURL". Update then FindProxy,
// and the hand-written host patterns against the regular expressions they stand in for.
#include "FuzzSupport.h"
#include "proxy/ManualProxyConfig.h"

#include <regex>

namespace {

void ComparePatterns(const std::string& text) {
    static const std::regex hostName("^(([a-zA-Z0-9]|[a-zA-Z0-9][a-zA-Z0-9\\-]*[a-zA-Z0-9])\\.)"
                                     "*([A-Za-z0-9]|[A-Za-z0-9][A-Za-z0-9\\-]*[A-Za-z0-9])$");
    static const std::regex label("^([a-zA-Z][a-zA-Z0-9\\-]*)$");
    static const std::regex port("^([0-9]{1,5})");
    // The regular expressions recurse per character; the settings never hold hosts this long.
    if (text.size() > 300)
        return;
    using namespace OrnUtil::internal;
    fuzz::Require(MatchesHostNamePattern(text) == std::regex_match(text, hostName) &&
                  MatchesSingleLabelPattern(text) == std::regex_match(text, label) &&
                  MatchesPortPattern(text) == std::regex_match(text, port));
}

} // namespace

FUZZ_TARGET(input) {
    const auto [proxies, bypass, url] = fuzz::Fields<3>(input, '\n');
    ManualProxyConfig manual;
    manual.Update(proxies, bypass);
    const std::string proxy = manual.FindProxy(url);
    manual.Update(proxies, bypass);
    fuzz::Require(manual.FindProxy(url) == proxy);
    fuzz::Require(proxy.empty() || ManualProxyConfig::IsValidHost(proxy, true));
    ComparePatterns(proxies);
    ComparePatterns(url);
}
