// A proxy lookup through a compiled PAC script, beside Debian's pacparser running the same script.
#include "LoopbackServers.h"
#include "proxy/linux/LinuxProxySession.h"
#include "proxy/linux/PacHeap.h"
#include "proxy/linux/PacScript.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <pacparser.h>
#include <string>

namespace {

// The benchmark's URL is decided before the script reaches a helper that asks DNS, so that the
// lookup, not the name server, is measured.
const char* const SCRIPT = R"js(
function FindProxyForURL(url, host) {
    if (isPlainHostName(host) || dnsDomainIs(host, ".corp.example"))
        return "DIRECT";
    if (shExpMatch(url, "http://*.example.com/*"))
        return "PROXY a.example:8080; PROXY b.example:8080";
    if (isInNet(host, "10.0.0.0", "255.0.0.0"))
        return "DIRECT";
    return "PROXY c.example:3128";
})js";

const char* const URL = "http://www.example.com/index.html";
const char* const HOST = "www.example.com";

void Baseline(benchmark::State& state) {
    pacparser_init();
    if (pacparser_parse_pac_string(SCRIPT) == 0)
        std::abort();
    for (auto _ : state)
        benchmark::DoNotOptimize(pacparser_find_proxy(URL, HOST));
    pacparser_cleanup();
}
BENCHMARK(Baseline)->Name("PacLookup/baseline")->UseRealTime();

void Cached(benchmark::State& state) {
    using namespace OrnUtil::proxy;
    std::string error, answer;
    auto script = CPacScript::Compile(SCRIPT, PacBounds{500, 500, PacBounds::HEAP_BYTES}, error);
    if (!script)
        std::abort();
    for (auto _ : state)
        benchmark::DoNotOptimize(script->FindProxy(URL, HOST, answer, error));
}
BENCHMARK(Cached)->Name("PacLookup/compiled_script")->UseRealTime();

} // namespace

namespace {
void HeapOnly(benchmark::State& state) {
    using namespace OrnUtil::proxy;
    std::string error, answer;
    CPacHeap heap(PacBounds::HEAP_BYTES, 500);
    if (!heap.Compile(SCRIPT, 500, error))
        std::abort();
    for (auto _ : state)
        benchmark::DoNotOptimize(heap.FindProxy(URL, HOST, 500, answer, error));
}
BENCHMARK(HeapOnly)->Name("PacLookup/heap_only")->UseRealTime();
} // namespace

namespace {

// The first lookup of a session: the script fetched from a loopback server, compiled, run. The
// baseline parses the same script from memory and runs it, with no download.
void FirstBaseline(benchmark::State& state) {
    for (auto _ : state) {
        pacparser_init();
        if (pacparser_parse_pac_string(SCRIPT) == 0)
            std::abort();
        benchmark::DoNotOptimize(pacparser_find_proxy(URL, HOST));
        pacparser_cleanup();
    }
}
BENCHMARK(FirstBaseline)->Name("PacFirstLookup/baseline")->UseRealTime();

void FirstLookup(benchmark::State& state) {
    using namespace OrnUtil::proxy;
    testing_support::LoopbackHttpServer server([](const testing_support::HttpRequest&) {
        return testing_support::HttpResponse{200, {}, SCRIPT};
    });
    ProxyQuery query;
    query.scriptUrl = server.Url("/proxy.pac");
    for (auto _ : state) {
        LinuxProxySession session;
        const ProxyAnswer answer = session.GetProxyForUrl(URL, query);
        if (answer.error != 0)
            std::abort();
    }
}
BENCHMARK(FirstLookup)->Name("PacFirstLookup/download_compile_run")->UseRealTime();

} // namespace
