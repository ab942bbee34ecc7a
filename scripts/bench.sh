#!/usr/bin/env bash
# Builds the benchmarks in release mode, runs them, and prints each result beside its baseline.
#
# A benchmark is named GROUP/VARIANT[/...]: within a group, VARIANT "baseline" is the yardstick
# (the raw system call, libc, the dependency used directly, or a peer library) and every other
# variant is reported as a ratio to it. Google Benchmark's own suffixes (/threads:2) stay part of
# the group.
set -euo pipefail
cd "$(dirname "$0")/.."
filter="${1:-}"

cmake --preset bench >/dev/null
cmake --build --preset bench
prefix="$PWD/build/bench/prefix"
cmake --install build/bench --prefix "$prefix" >/dev/null
cmake -S bench/app -B build/bench-app -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build build/bench-app

results="build/bench/results.csv"
: >"$results"
for program in build/bench/bench/internal/bench_* build/bench-app/bench_*; do
    [ -x "$program" ] || continue
    echo "== $(basename "$program")" >&2
    # Five repetitions, reported by their median: file and socket timings wander from run to run.
    # The repetitions of all variants are interleaved at random, so that a slow spell of the
    # machine falls on the baseline as often as on the library instead of on one of them.
    "$program" --benchmark_filter="${filter:-.}" --benchmark_format=csv \
        --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
        --benchmark_report_aggregates_only=true 2>/dev/null |
        grep '_median"' | sed 's/_median"/"/' | sort -t, -k1,1 -s >>"$results" || true
done

# Columns of the CSV: name, iterations, real_time, cpu_time, time_unit, ...
awk -F, '
function ns(value, unit) {
    return unit == "\"ns\"" || unit == "ns" ? value : unit ~ /us/ ? value * 1e3 : unit ~ /ms/ ? value * 1e6 : value * 1e9
}
{
    name = $1; gsub(/"/, "", name)
    count = split(name, part, "/")
    group = part[1]; for (i = 3; i <= count; i++) group = group "/" part[i]
    time[name] = ns($3, $5); groupOf[name] = group; variant[name] = part[2]; order[++n] = name
    if (part[2] == "baseline") base[group] = time[name]
}
END {
    printf "| benchmark | variant | time per op | baseline | time ratio | speed ratio |\n"
    printf "|---|---|---|---|---|---|\n"
    for (i = 1; i <= n; i++) {
        name = order[i]; group = groupOf[name]
        if (variant[name] == "baseline" || !(group in base)) continue
        printf "| %s | %s | %.1f ns | %.1f ns | %.2f | %.2fx |\n", group, variant[name], time[name], base[group], time[name] / base[group], base[group] / time[name]
    }
}' "$results" | tee build/bench/results.md
