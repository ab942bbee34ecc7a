// Baselines that benchmarks built in-tree and against the installed package both measure.
#pragma once

#include <OrnUtil/Log.h>
#include <benchmark/benchmark.h>

// A suppressed log statement at its floor: one load of a volatile level and a compare.
inline void SuppressedStatementBaseline(benchmark::State& state) {
    volatile int32_t level = WARN;
    int shown = 0;
    for (auto _ : state) {
        if (DEBUG <= level)
            benchmark::DoNotOptimize(++shown);
        benchmark::ClobberMemory();
    }
}
