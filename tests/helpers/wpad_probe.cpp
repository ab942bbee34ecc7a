// wpad_probe SCRIPT, run where the hosts file and the resolver's settings name a wpad host on
// 127.0.0.1: serves SCRIPT (unless "-") as http://127.0.0.1/wpad.dat, asks the resolver for a
// proxy by discovery and prints "proxy=<proxy> ok=<0|1> given-up=<0|1>".
#include "LoopbackServers.h"
#include "proxy/WinAutoProxy.h"

#include <cstdlib>
#include <iostream>

using namespace testing_support;

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    const std::string script = argv[1];
    std::unique_ptr<LoopbackHttpServer> server;
    if (script != "-")
        server = std::make_unique<LoopbackHttpServer>(
            [script](const HttpRequest& request) {
                return HttpResponse{request.target == "/wpad.dat" ? 200 : 404, {}, script};
            },
            80);
    setenv("auto_proxy", "", 1);
    WinAutoProxy resolver;
    std::string proxy;
    const bool ok = resolver.GetProxyForUrl("http://www.example.test/", proxy);
    std::cout << "proxy=" << proxy << " ok=" << ok << " given-up=" << resolver.IsAutoDetectFailed()
              << std::endl;
    return 0;
}
