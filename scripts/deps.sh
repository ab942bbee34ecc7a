#!/usr/bin/env bash
# Installs the Debian packages that a task needs, and only those that are missing.
#   scripts/deps.sh build|test|bench|fuzz|package|docs ...
# Groups add up: every group needs "build"; "bench" and "fuzz" need "test" too.
set -euo pipefail

build=(cmake g++ ninja-build pkg-config git libcurl4-openssl-dev ca-certificates duktape-dev)
test=(libgtest-dev libgmock-dev tzdata tinyproxy-bin openssl microsocks iproute2
      gsettings-desktop-schemas libglib2.0-bin)
bench=(libbenchmark-dev libspdlog-dev libpacparser-dev)
fuzz=(clang libclang-rt-14-dev)
# dpkg-shlibdeps (dpkg-dev) computes the packages' run-time dependencies; man-db answers `man -w`
# in the installed-package test.
package=(dpkg-dev file help2man lintian man-db)
docs=(doxygen)

wanted=()
for group in "$@"; do
    case "$group" in
        build) wanted+=("${build[@]}") ;;
        test) wanted+=("${build[@]}" "${test[@]}") ;;
        bench) wanted+=("${build[@]}" "${test[@]}" "${bench[@]}") ;;
        fuzz) wanted+=("${build[@]}" "${test[@]}" "${fuzz[@]}") ;;
        package) wanted+=("${build[@]}" "${package[@]}") ;;
        docs) wanted+=("${build[@]}" "${docs[@]}") ;;
        *) echo "deps.sh: unknown group '$group' (build, test, bench, fuzz, package, docs)" >&2; exit 2 ;;
    esac
done

missing=()
for package in $(printf '%s\n' "${wanted[@]}" | sort -u); do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
    echo "deps.sh: run as root, or install them yourself: apt-get install ${missing[*]}" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
