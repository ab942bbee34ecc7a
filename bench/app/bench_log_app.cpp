// An application's suppressed log statement, through the installed library, beside a bare
// volatile compare.
#include "Baselines.h"

#include <OrnUtils.h>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <string>

namespace {

BENCHMARK(SuppressedStatementBaseline)->Name("SuppressedStatementApp/baseline");

void Application(benchmark::State& state) {
    char folder[] = "/tmp/ornutils-bench-XXXXXX";
    setenv("APPDATA", mkdtemp(folder), 1);
    if (!OrnUtil::CLog::Init(""))
        std::abort();
    int value = 0;
    for (auto _ : state) {
        if (DEBUG <= OrnUtil::CLog::ReportingLevel(APP))
            OrnUtil::CLog().Get(DEBUG, APP) << "sent block " << value << " of the image";
        ++value;
        benchmark::ClobberMemory();
    }
    OrnUtil::CLog::Shutdown();
}
BENCHMARK(Application)->Name("SuppressedStatementApp/application");

} // namespace
