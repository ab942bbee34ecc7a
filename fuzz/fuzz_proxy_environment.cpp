// Proxy settings from arbitrary environment values, one line per variable in the order below; a
// line "!" leaves its variable unset. The settings then go through the manual proxy settings as
// the resolver would use them.
#include "FuzzSupport.h"
#include "proxy/ManualProxyConfig.h"
#include "proxy/ProxyEnvironment.h"

#include <iterator>
#include <map>

namespace {

const char* const NAMES[] = {"auto_proxy", "AUTO_PROXY", "all_proxy",   "ALL_PROXY",
                             "http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                             "ftp_proxy",  "FTP_PROXY",  "no_proxy",    "NO_PROXY"};

std::map<std::string, std::string> g_Variables;

const char* Lookup(const char* name) {
    const auto found = g_Variables.find(name);
    return found == g_Variables.end() ? nullptr : found->second.c_str();
}

} // namespace

using fuzz::Require;

FUZZ_TARGET(input) {
    g_Variables.clear();
    const auto values = fuzz::Fields<std::size(NAMES)>(input, '\n');
    for (size_t i = 0; i < values.size(); ++i)
        if (values[i] != "!")
            g_Variables[NAMES[i]] = values[i];

    using namespace OrnUtil::proxy;
    ProxySettings settings;
    const bool configured = ProxySettingsFromEnvironment(&Lookup, settings);
    Require(configured == (settings.autoDetect || settings.pacUrl || settings.proxyList));
    if (settings.proxyList)
        Require(!settings.proxyList->empty() &&
                settings.proxyList->find_first_of(" ,\t") == std::string::npos);
    for (const auto& variable : g_Variables)
        if (const auto proxy = ProxyFromEnvironmentValue(variable.second))
            Require(!proxy->empty() && proxy->find_first_of(";=, \t/@") == std::string::npos);

    ManualProxyConfig manual;
    manual.Update(settings.proxyList.value_or(""), settings.bypassList.value_or(""));
    manual.FindProxy("http://www.example.corp:8080/x");
    manual.FindProxy("https://intranet/");
}
