// GET requests of 100 B and 64 KiB bodies against a loopback keep-alive server through HTTPcURL (a
// new object per request, or one object reused with Reset), beside one raw libcurl easy handle
// reused for every request: plain (HttpGet), or set up as HTTPcURL sets its handle, so that both
// send the same request (HttpGetSameRequest); and beside a raw handle made for each request. Also
// one proxy lookup on environment settings, beside the bare getenv calls that read the same
// variables.
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
// "/<n>" answers n bytes.
LoopbackHttpServer& Server() {
    static LoopbackHttpServer server([](const HttpRequest& request) {
        return HttpResponse{
            200,
            {{"Content-Type", "text/plain"}},
            std::string(std::strtoul(request.target.c_str() + 1, nullptr, 10), 'x')};
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

// A direct handle for the URL that appends the body to the buffer; with `sameRequest`, set up as
// HTTPcURL sets its own.
CURL* NewHandle(const std::string& url, std::vector<char>& buffer, bool sameRequest,
                curl_slist* headers) {
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &buffer);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    if (sameRequest) {
        curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(curl, CURLOPT_TRANSFER_ENCODING, 1L);
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl, CURLOPT_COOKIELIST, "# cookies of this handle");
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_PROXYAUTH,
                         static_cast<long>(CURLAUTH_BASIC | CURLAUTH_NEGOTIATE | CURLAUTH_NTLM));
        curl_easy_setopt(curl, CURLOPT_PROXYUSERPWD, ":");
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    }
    return curl;
}

void Fetch(benchmark::State& state, CURL* curl, std::vector<char>& buffer) {
    buffer.clear();
    if (curl_easy_perform(curl) != CURLE_OK || buffer.size() != static_cast<size_t>(state.range(0)))
        state.SkipWithError("request failed");
}

std::string Url(const benchmark::State& state) {
    return Server().Url("/" + std::to_string(state.range(0)));
}

void ReusedHandle(benchmark::State& state, bool sameRequest) {
    const std::string url = Url(state);
    curl_global_init(CURL_GLOBAL_ALL);
    std::vector<char> buffer;
    curl_slist* headers = curl_slist_append(nullptr, "Expect:");
    CURL* curl = NewHandle(url, buffer, sameRequest, headers);
    for (auto _ : state)
        Fetch(state, curl, buffer);
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    state.SetItemsProcessed(state.iterations());
}

void GetBaseline(benchmark::State& state) {
    ReusedHandle(state, false);
}
BENCHMARK(GetBaseline)->Name("HttpGet/baseline")->Arg(100)->Arg(65536)->UseRealTime();

void GetSameRequestBaseline(benchmark::State& state) {
    ReusedHandle(state, true);
}
BENCHMARK(GetSameRequestBaseline)
    ->Name("HttpGetSameRequest/baseline")
    ->Arg(100)
    ->Arg(65536)
    ->UseRealTime();

void GetNewHandleBaseline(benchmark::State& state) {
    const std::string url = Url(state);
    curl_global_init(CURL_GLOBAL_ALL);
    std::vector<char> buffer;
    for (auto _ : state) {
        CURL* curl = NewHandle(url, buffer, false, nullptr);
        Fetch(state, curl, buffer);
        curl_easy_cleanup(curl);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(GetNewHandleBaseline)->Name("HttpGetNewHandle/baseline")->Arg(100)->UseRealTime();

void GetNewObject(benchmark::State& state) {
    const std::string url = Url(state);
    std::vector<char> buffer;
    for (auto _ : state) {
        buffer.clear();
        HTTPcURL http(buffer);
        http.Perform(url, "", "");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(GetNewObject)->Name("HttpGet/new_object")->Arg(100)->Arg(65536)->UseRealTime();
BENCHMARK(GetNewObject)->Name("HttpGetSameRequest/new_object")->Arg(100)->Arg(65536)->UseRealTime();
BENCHMARK(GetNewObject)->Name("HttpGetNewHandle/new_object")->Arg(100)->UseRealTime();

void GetReusedObject(benchmark::State& state) {
    const std::string url = Url(state);
    std::vector<char> buffer;
    HTTPcURL http(buffer);
    for (auto _ : state) {
        http.Reset();
        buffer.clear();
        http.Perform(url, "", "");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(GetReusedObject)->Name("HttpGet/reused_with_reset")->Arg(100)->Arg(65536)->UseRealTime();
BENCHMARK(GetReusedObject)
    ->Name("HttpGetSameRequest/reused_with_reset")
    ->Arg(100)
    ->Arg(65536)
    ->UseRealTime();

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
