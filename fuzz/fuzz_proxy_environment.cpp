// Proxy settings from arbitrary environment values, one line per variable in the order below; a
// line "!" leaves its variable unset. The settings then go through the manual proxy settings as
// the resolver would use them.
#include "FuzzSupport.h"
#include "proxy/ManualProxyConfig.h"
#include "proxy/ProxyEnvironment.h"

#include <OrnUtil/Log.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SilenceLog();
    const std::string text(reinterpret_cast<const char*>(data), size);
    g_Variables.clear();
    size_t start = 0;
    for (const char* name : NAMES) {
        if (start > text.size())
            break;
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string value = text.substr(start, end - start);
        if (value != "!")
            g_Variables[name] = value;
        start = end + 1;
    }

    using namespace OrnUtil::proxy;
    ProxySettings settings;
    const bool configured = ProxySettingsFromEnvironment(&Lookup, settings);
    if (configured != (settings.autoDetect || settings.pacUrl || settings.proxyList))
        std::abort();
    if (settings.proxyList && (settings.proxyList->empty() ||
                               settings.proxyList->find_first_of(" ,\t") != std::string::npos))
        std::abort();
    for (const auto& variable : g_Variables)
        if (const auto proxy = ProxyFromEnvironmentValue(variable.second))
            if (proxy->empty() || proxy->find_first_of(";=, \t/@") != std::string::npos)
                std::abort();

    ManualProxyConfig manual;
    manual.Update(settings.proxyList.value_or(""), settings.bypassList.value_or(""));
    manual.FindProxy("http://www.example.corp:8080/x");
    manual.FindProxy("https://intranet/");
    return 0;
}
