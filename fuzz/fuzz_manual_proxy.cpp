// Manual proxy settings from arbitrary text: "proxy list\nbypass list\nURL". Update then FindProxy,
// and the hand-written host patterns against the regular expressions they stand in for.
#include "FuzzSupport.h"
#include "proxy/ManualProxyConfig.h"

#include <OrnUtil/Log.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

namespace {

std::string Line(const std::string& text, size_t& start) {
    const size_t end = text.find('\n', start);
    const std::string line = text.substr(start, end == std::string::npos ? end : end - start);
    start = end == std::string::npos ? text.size() : end + 1;
    return line;
}

void ComparePatterns(const std::string& text) {
    static const std::regex hostName("^(([a-zA-Z0-9]|[a-zA-Z0-9][a-zA-Z0-9\\-]*[a-zA-Z0-9])\\.)"
                                     "*([A-Za-z0-9]|[A-Za-z0-9][A-Za-z0-9\\-]*[A-Za-z0-9])$");
    static const std::regex label("^([a-zA-Z][a-zA-Z0-9\\-]*)$");
    static const std::regex port("^([0-9]{1,5})");
    // The regular expressions recurse per character; the settings never hold hosts this long.
    if (text.size() > 300)
        return;
    using namespace OrnUtil::internal;
    if (MatchesHostNamePattern(text) != std::regex_match(text, hostName) ||
        MatchesSingleLabelPattern(text) != std::regex_match(text, label) ||
        MatchesPortPattern(text) != std::regex_match(text, port))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SilenceLog();
    const std::string text(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    const std::string proxies = Line(text, start);
    const std::string bypass = Line(text, start);
    const std::string url = text.substr(start);

    ManualProxyConfig manual;
    manual.Update(proxies, bypass);
    const std::string proxy = manual.FindProxy(url);
    manual.Update(proxies, bypass);
    if (manual.FindProxy(url) != proxy)
        std::abort();
    if (!proxy.empty() && !ManualProxyConfig::IsValidHost(proxy, true))
        std::abort();
    ComparePatterns(proxies);
    ComparePatterns(url);
    return 0;
}
