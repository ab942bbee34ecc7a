// ornproxy: shows which proxy the library would use for each URL, and why.
#include "proxy/WinAutoProxy.h"
#include "proxy/linux/LinuxProxyPlatform.h"

#include <OrnUtil/Log.h>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {

const char* const HELP = R"(Usage: ornproxy URL...
Shows how the OrnUtils applications choose a proxy for each URL, step by step.

It prints where the proxy settings came from and what they hold, then for each URL the
resolver's trace and its decision. The settings come from the first of these that holds any:
  environment  the variables below, when they ask for discovery or name a script or proxy
  desktop      the GNOME desktop settings (org.gnome.system.proxy), where installed
Discovery (WPAD) and the PAC script come first, the manual proxies second.
Each URL is resolved afresh, as the first request of an application would be, so its whole
trace is shown. Scripts are fetched and run as the applications fetch and run them.

  -h, --help  shows this help

Exit status:
  0  every URL got a decision
  1  some URL got none
  2  usage

Environment:
  auto_proxy   empty: discover by WPAD; else the URL or path of a PAC script
  all_proxy    the HTTP proxy for every URL (host:port or http://host:port)
  http_proxy   the HTTP proxy for http URLs
  https_proxy  the HTTP proxy for https URLs
  ftp_proxy    the HTTP proxy for ftp URLs
  no_proxy     the domains that go direct, with their subdomains

Each has an upper-case twin (AUTO_PROXY, ALL_PROXY, ...); the lower-case name wins when both
are set.

Files:
  /tmp/ornproxy-XXXXXX/Marlek/ORN/DEBUG.CFG
                      a level file of its own for the trace, removed at exit, so that
                      the applications' levels stay as they are
)";

const char* SourceName(OrnUtil::proxy::ProxySettingsSource source) {
    switch (source) {
    case OrnUtil::proxy::ProxySettingsSource::ENVIRONMENT:
        return "the environment";
    case OrnUtil::proxy::ProxySettingsSource::DESKTOP:
        return "the GNOME desktop settings";
    default:
        return "nowhere: no proxy is configured";
    }
}

void PrintSettings() {
    OrnUtil::proxy::ProxySettings settings;
    const auto source = OrnUtil::proxy::ReadSystemProxySettings(settings);
    std::cout << "Settings from " << SourceName(source) << "\n"
              << "  discover by WPAD: " << (settings.autoDetect ? "yes" : "no") << "\n"
              << "  PAC script:       " << settings.pacUrl.value_or("(none)") << "\n"
              << "  manual proxies:   " << settings.proxyList.value_or("(none)") << "\n"
              << "  bypass:           " << settings.bypassList.value_or("(none)") << "\n";
}

// The resolver's INFO trace goes to standard output through a level table of the tool's own, so
// that the applications' shared levels are left alone.
std::string scratch;

bool TraceToStdout() {
    char folder[] = "/tmp/ornproxy-XXXXXX";
    if (mkdtemp(folder) == nullptr || setenv("APPDATA", folder, 1) != 0)
        return false;
    scratch = folder;
    if (!OrnUtil::CLog::Init(""))
        return false;
    OrnUtil::CLog::ReportingLevel(APP, INFO);
    OrnUtil::CLog::SetPipe(APP, stdout);
    return true;
}

bool Resolve(const std::string& url) {
    std::cout << "\n" << url << "\n";
    WinAutoProxy resolver;
    std::string proxy;
    const bool decided = resolver.GetProxyForUrl(url, proxy);
    std::cout << "=> "
              << (!decided        ? "no decision"
                  : proxy.empty() ? "direct"
                                  : "proxy " + proxy)
              << std::endl;
    return decided;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::cout << HELP;
        return 0;
    }
    if (argc < 2) {
        std::cerr << "ornproxy: expected one or more URLs; see ornproxy --help\n";
        return 2;
    }
    PrintSettings();
    if (!TraceToStdout())
        std::cerr << "ornproxy: cannot make a scratch level file; the trace is not shown\n";
    bool all = true;
    for (int i = 1; i < argc; ++i)
        all = Resolve(argv[i]) && all;
    OrnUtil::CLog::Shutdown();
    if (!scratch.empty()) {
        unlink((scratch + "/Marlek/ORN/DEBUG.CFG").c_str());
        for (const char* folder : {"/Marlek/ORN", "/Marlek", ""})
            rmdir((scratch + folder).c_str());
    }
    return all ? 0 : 1;
}
