#!/usr/bin/env bash
# The one entry point for building, testing, benchmarking and fuzzing OrnUtils. Each command first
# installs the Debian packages it needs (scripts/deps.sh).
#
#   scripts/run.sh tour                     build everything (release) and run the tour
#   scripts/run.sh test [PRESET]            build and run the suite: developer (default), asan, tsan
#   scripts/run.sh bench [FILTER]           build the benchmarks (release) and print the ratio table
#   scripts/run.sh fuzz [SECONDS]           build the libFuzzer targets and run each (default 60 s)
#   scripts/run.sh package [test]           build the Debian packages (release), check them with
#                                           lintian; with test, install, use and purge them
#   scripts/run.sh docs                     build the API reference (HTML) in build/docs/api/html
set -euo pipefail
cd "$(dirname "$0")/.."

configure_and_build() {
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1"
}

# A release tree of its own, without the suites: the packages and the reference need no test tools.
configure_release_tree() {
    local tree="$1"
    shift
    cmake --preset release -B "build/$tree" -DORNUTILS_BUILD_TESTS=OFF "$@" >/dev/null
}

command="${1:-}"
shift || true
case "$command" in
    tour)
        scripts/deps.sh build test
        configure_and_build release
        build/release/examples/tour
        ;;
    test)
        preset="${1:-developer}"
        scripts/deps.sh test
        configure_and_build "$preset"
        ctest --preset "$preset" -j "$(nproc)"
        ;;
    bench)
        scripts/deps.sh bench
        scripts/bench.sh "${1:-}"
        ;;
    fuzz)
        scripts/deps.sh fuzz
        configure_and_build fuzz
        seconds="${1:-60}"
        for target in build/fuzz/fuzz/fuzz_*; do
            name=$(basename "$target")
            corpus="build/fuzz/corpus/$name"
            mkdir -p "$corpus"
            cp -n "fuzz/corpus/$name"/* "$corpus"/ 2>/dev/null || true
            echo "== $name for ${seconds}s"
            log="build/fuzz/$name.log"
            if ! "$target" -max_total_time="$seconds" -print_final_stats=1 "$corpus" >"$log" 2>&1; then
                tail -40 "$log"
                exit 1
            fi
            grep -E 'stat::number_of_executed_units' "$log"
        done
        ;;
    package)
        scripts/deps.sh package
        configure_release_tree package -DCMAKE_INSTALL_PREFIX=/usr
        cmake --build build/package
        rm -f build/package/*.deb
        (cd build/package && cpack)
        lintian --fail-on error build/package/*.deb
        if [ "${1:-}" = test ]; then
            scripts/package-test.sh
        fi
        ;;
    docs)
        scripts/deps.sh docs
        configure_release_tree docs
        cmake --build build/docs --target docs
        ;;
    *)
        sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'
        exit 2
        ;;
esac
