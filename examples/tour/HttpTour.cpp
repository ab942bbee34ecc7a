// HTTP requests through the proxy resolver: a GET and a form POST against a loopback server that
// the tour starts, once direct, once through tinyproxy named in http_proxy, and once as a PAC
// script served by the same server decides.
#include "LoopbackServers.h"
#include "Tour.h"

#include <OrnUtils.h>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

using testing_support::HttpRequest;
using testing_support::HttpResponse;
using testing_support::LoopbackHttpServer;
using testing_support::TinyProxy;

namespace {

// The PAC script the server hands out; it names the tour's proxy once that has started.
std::string pacScript;

HttpResponse Answer(const HttpRequest& request) {
    if (request.target == "/proxy.pac")
        return {200, {{"Content-Type", "application/x-ns-proxy-autoconfig"}}, pacScript};
    std::string via = request.Header("Via");
    via = via.empty() ? "direct" : "via " + via;
    if (request.method == "POST")
        return {
            200, {}, "received " + std::to_string(request.body.size()) + " bytes (" + via + ")"};
    return {200, {}, "hello from the loopback server (" + via + ")"};
}

void Requests(const LoopbackHttpServer& server) {
    std::vector<char> buffer;
    try {
        HTTPcURL http(buffer);
        http.HeaderAdd("Accept", "text/plain");
        http.Perform(server.Url("/greeting"), "", "");
        std::cout << "  GET  -> " << std::string(buffer.begin(), buffer.end()) << "\n";

        // The same object for the next request: Reset drops headers and form, and the buffer,
        // which now holds the response, is emptied so that it is not posted.
        http.Reset();
        buffer.clear();
        http.FormAddContent("device", "ECU-7", "text/plain");
        const char image[] = {'\x7f', 'E', 'L', 'F', '\0', '\1'};
        http.FormAddPtr("image", image, sizeof image, "application/octet-stream");
        http.Perform(server.Url("/upload"), "", "");
        std::cout << "  POST -> " << std::string(buffer.begin(), buffer.end()) << "\n";
    } catch (const std::runtime_error& error) {
        std::cout << "  failed: " << error.what() << "\n";
    }
}

} // namespace

void TourHttp() {
    Section("HTTP requests through the user's proxy settings");
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY", "no_proxy",
                             "NO_PROXY", "auto_proxy", "AUTO_PROXY"})
        unsetenv(name);
    LoopbackHttpServer server(&Answer);
    std::cout << "No proxy configured: the requests go straight to " << server.Url() << "\n";
    Requests(server);

    if (!TinyProxy::Installed()) {
        std::cout << "tinyproxy is not installed (scripts/deps.sh test installs it): the run "
                     "through a proxy is left out.\n";
        return;
    }
    const char* scratch = std::getenv("APPDATA");
    TinyProxy proxy(scratch != nullptr ? scratch : "/tmp");
    if (!proxy.Started()) {
        std::cout << "tinyproxy did not start:\n" << proxy.Log();
        return;
    }
    setenv("http_proxy", (proxy.Url() + "/").c_str(), 1);
    std::cout << "http_proxy=" << proxy.Url()
              << "/ (tinyproxy): the resolver hands it to libcurl\n";
    Requests(server);
    unsetenv("http_proxy");

    pacScript = "function FindProxyForURL(url, host) {\n"
                "    if (shExpMatch(url, '*/upload')) return 'DIRECT';\n"
                "    return 'PROXY " +
                proxy.Url().substr(7) + "';\n}";
    setenv("auto_proxy", server.Url("/proxy.pac").c_str(), 1);
    std::cout << "auto_proxy=" << server.Url("/proxy.pac")
              << ": a script sends uploads direct and the rest through the proxy\n"
              << pacScript << "\n";
    Requests(server);
    unsetenv("auto_proxy");
}
