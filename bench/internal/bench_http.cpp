// GET requests against a loopback keep-alive server through HTTPcURL, beside a raw libcurl easy
// handle reused for every request and beside a raw handle made for each request (a new handle
// opens a new connection: the same price a new HTTPcURL pays); and one proxy lookup on environment
// settings, beside the bare getenv calls that read the same variables.
#include "LoopbackServers.h"
#include "proxy/WinAutoProxy.h"

#include <OrnUtil/Http.h>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <curl/curl.h>
#include <string>
#include <vector>

namespace {

using testing_support::HttpRequest;
using testing_support::HttpResponse;
using testing_support::LoopbackHttpServer;

const char* const PROXY_VARIABLES[] = {"auto_proxy", "AUTO_PROXY", "all_proxy",   "ALL_PROXY",
                                       "http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                       "ftp_proxy",  "FTP_PROXY",  "no_proxy",    "NO_PROXY"};

// The requests go direct: no proxy variable is set, and the resolver's answer is "no settings".
LoopbackHttpServer& Server() {
    static LoopbackHttpServer server([](const HttpRequest&) {
        return HttpResponse{200, {{"Content-Type", "text/plain"}}, std::string(512, 'x')};
    });
    for (const char* name : PROXY_VARIABLES)
        unsetenv(name);
    return server;
}

size_t Append(char* data, size_t size, size_t count, void* buffer) {
    static_cast<std::vector<char>*>(buffer)->insert(static_cast<std::vector<char>*>(buffer)->end(),
                                                    data, data + size * count);
    return size * count;
}

// A direct handle for the URL that appends the body to the buffer.
CURL* NewHandle(const std::string& url, std::vector<char>& buffer) {
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &buffer);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    return curl;
}

void Fetch(benchmark::State& state, CURL* curl, std::vector<char>& buffer) {
    buffer.clear();
    if (curl_easy_perform(curl) != CURLE_OK || buffer.size() != 512)
        state.SkipWithError("request failed");
}

void GetBaseline(benchmark::State& state) {
    const std::string url = Server().Url("/data");
    curl_global_init(CURL_GLOBAL_ALL);
    std::vector<char> buffer;
    CURL* curl = NewHandle(url, buffer);
    for (auto _ : state)
        Fetch(state, curl, buffer);
    curl_easy_cleanup(curl);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(GetBaseline)->Name("HttpGet/baseline")->UseRealTime();

void GetNewHandleBaseline(benchmark::State& state) {
    const std::string url = Server().Url("/data");
    curl_global_init(CURL_GLOBAL_ALL);
    std::vector<char> buffer;
    for (auto _ : state) {
        CURL* curl = NewHandle(url, buffer);
        Fetch(state, curl, buffer);
        curl_easy_cleanup(curl);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(GetNewHandleBaseline)->Name("HttpGetNewHandle/baseline")->UseRealTime();

void GetNewObject(benchmark::State& state) {
    const std::string url = Server().Url("/data");
    std::vector<char> buffer;
    for (auto _ : state) {
        buffer.clear();
        HTTPcURL http(buffer);
        http.Perform(url, "", "");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(GetNewObject)->Name("HttpGet/new_object")->UseRealTime();
BENCHMARK(GetNewObject)->Name("HttpGetNewHandle/new_object")->UseRealTime();

void GetReusedObject(benchmark::State& state) {
    const std::string url = Server().Url("/data");
    std::vector<char> buffer;
    HTTPcURL http(buffer);
    for (auto _ : state) {
        http.Reset();
        buffer.clear();
        http.Perform(url, "", "");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(GetReusedObject)->Name("HttpGet/reused_with_reset")->UseRealTime();

void SetProxyEnvironment() {
    for (const char* name : PROXY_VARIABLES)
        unsetenv(name);
    setenv("http_proxy", "http://proxy.corp.example:3128/", 1);
    setenv("https_proxy", "http://secure.corp.example:8443", 1);
    setenv("no_proxy", "localhost,127.0.0.1,.intranet.example", 1);
}

void LookupBaseline(benchmark::State& state) {
    SetProxyEnvironment();
    for (auto _ : state)
        for (const char* name : PROXY_VARIABLES)
            benchmark::DoNotOptimize(std::getenv(name));
}
BENCHMARK(LookupBaseline)->Name("ProxyLookupEnv/baseline");

void LookupResolver(benchmark::State& state) {
    SetProxyEnvironment();
    WinAutoProxy resolver;
    std::string proxy;
    const std::string url = "http://updates.example.com/latest/manifest.json";
    for (auto _ : state) {
        if (!resolver.GetProxyForUrl(url, proxy))
            state.SkipWithError("no decision");
        benchmark::DoNotOptimize(proxy.data());
    }
}
BENCHMARK(LookupResolver)->Name("ProxyLookupEnv/GetProxyForUrl");

} // namespace
