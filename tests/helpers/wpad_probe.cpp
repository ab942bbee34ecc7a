// Runs inside a network namespace for the WPAD tests: serves `script` as wpad.dat on
// 127.0.0.1:80 of the namespace (unless it is "-"), asks the resolver for a proxy for `url` with
// discovery switched on, and prints "proxy=<proxy> ok=<0|1> given-up=<0|1>".
//   wpad_probe URL SCRIPT
#include "LoopbackServers.h"
#include "proxy/WinAutoProxy.h"

#include <cstdlib>
#include <iostream>
#include <memory>
#include <sched.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    // A host name without a domain, so that the resolver's search list names the domain.
    if (unshare(CLONE_NEWUTS) == 0)
        sethostname("probe", 5);
    const std::string script = argv[2];
    std::unique_ptr<testing_support::LoopbackHttpServer> server;
    if (script != "-")
        server = std::make_unique<testing_support::LoopbackHttpServer>(
            [script](const testing_support::HttpRequest& request) {
                if (request.target != "/wpad.dat")
                    return testing_support::HttpResponse{404, {}, ""};
                return testing_support::HttpResponse{
                    200, {{"Content-Type", "application/x-ns-proxy-autoconfig"}}, script};
            },
            80);
    setenv("auto_proxy", "", 1);
    WinAutoProxy resolver;
    std::string proxy;
    const bool ok = resolver.GetProxyForUrl(argv[1], proxy);
    std::cout << "proxy=" << proxy << " ok=" << ok << " given-up=" << resolver.IsAutoDetectFailed()
              << std::endl;
    return 0;
}
