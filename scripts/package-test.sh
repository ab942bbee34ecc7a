#!/usr/bin/env bash
# The packages as a user meets them: installs the three packages that scripts/run.sh package left
# in build/package with apt-get, builds examples/consumer against the system's copy with
# find_package and with pkg-config, runs the tools from the PATH, then purges the packages and
# checks that none of their files is left. The packages are purged however the test ends.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(libornutils4 libornutils-dev ornutils-tools)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/package/CMakeCache.txt)
architecture=$(dpkg --print-architecture)
debs=()
for package in "${packages[@]}"; do
    debs+=("$PWD/build/package/${package}_${version}_${architecture}.deb")
done
work=$(mktemp -d)
export DEBIAN_FRONTEND=noninteractive

purge() {
    apt-get purge -y -q "${packages[@]}" >"$work/purge.log" 2>&1 || {
        cat "$work/purge.log"
        return 1
    }
}
cleanup() {
    if dpkg-query -W -f='${Status}\n' "${packages[@]}" 2>/dev/null | grep -q 'ok installed'; then
        purge || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "package test: $*" >&2
    exit 1
}

# Where dpkg is told to drop manual pages (as in some container images), the tools' pages would
# silently be missing.
if grep -rqs '^path-exclude.*/usr/share/man' /etc/dpkg/dpkg.cfg.d; then
    fail "this machine's dpkg excludes /usr/share/man ($(grep -rls '^path-exclude.*/usr/share/man' /etc/dpkg/dpkg.cfg.d))"
fi

# Every path the packages hold; those that exist before the install belong to others too.
for deb in "${debs[@]}"; do
    [ -f "$deb" ] || fail "$deb is missing: run scripts/run.sh package first"
    dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|; s|/$||' | grep -v '^$'
done | sort -u >"$work/paths"
while read -r path; do
    if [ ! -e "$path" ] && [ ! -L "$path" ]; then
        echo "$path"
    fi
done <"$work/paths" >"$work/new-paths"

apt-get install -y -q --no-install-recommends "${debs[@]}" >"$work/install.log" 2>&1 || {
    cat "$work/install.log"
    fail "apt-get install failed"
}
for package in "${packages[@]}"; do
    installed=$(dpkg-query -W -f='${Version}' "$package")
    [ "$installed" = "$version" ] || fail "$package is $installed, not $version"
done

system_library=$(dpkg -L libornutils4 | grep '/libOrnUtils\.so\.4$')
expect_consumer() {
    local output
    output=$("$1")
    grep -q "^Utils $version\$" <<<"$output" || fail "$1 printed: $output"
    grep -q 'WARN   consumer linked' <<<"$output" || fail "$1 printed: $output"
    local library
    library=$(ldd "$1" | sed -n 's/^\s*libOrnUtils\.so\.4 => \(\S*\).*/\1/p')
    [ "$(readlink -f "$library")" = "$(readlink -f "$system_library")" ] ||
        fail "$1 loads '$library', not the system's library"
}

# No prefix given: the system's copy must be found where CMake and pkg-config look by themselves.
cmake -S examples/consumer -B "$work/consumer" -G Ninja >"$work/consumer.log" 2>&1 || {
    cat "$work/consumer.log"
    fail "find_package(OrnUtils) failed"
}
grep -q '^OrnUtils_DIR:PATH=/usr/lib/' "$work/consumer/CMakeCache.txt" ||
    fail "find_package found $(grep '^OrnUtils_DIR' "$work/consumer/CMakeCache.txt")"
grep -q "PACKAGE_VERSION \"$version\"" /usr/lib/*/cmake/OrnUtils/OrnUtilsConfigVersion.cmake ||
    fail "the CMake package does not say version $version"
cmake --build "$work/consumer" >/dev/null
expect_consumer "$work/consumer/consumer"

[ "$(pkg-config --modversion ornutils)" = "$version" ] || fail "pkg-config does not say $version"
# shellcheck disable=SC2046 # pkg-config's flags are words
g++ -std=c++17 examples/consumer/main.cpp $(pkg-config --cflags --libs ornutils) -o "$work/consumer-pc"
expect_consumer "$work/consumer-pc"

# The tools from the PATH, with their level file in a scratch folder rather than root's home.
[ "$(command -v ornlevel)" = /usr/bin/ornlevel ] || fail "ornlevel is not /usr/bin/ornlevel"
levels=$(APPDATA="$work/appdata" ornlevel all info)
grep -q '^FLASH   INFO$' <<<"$levels" || fail "ornlevel printed: $levels"
ornproxy --help | grep -q '^Usage: ornproxy' || fail "ornproxy --help failed"
for tool in ornlevel ornproxy; do
    page=$(man -w "$tool") || fail "man -w $tool found no page"
    [ "$page" = "/usr/share/man/man1/$tool.1.gz" ] || fail "man -w $tool gave $page"
    man -P cat "$tool" 2>/dev/null | grep -q '^ENVIRONMENT' || fail "the page of $tool has no ENVIRONMENT"
done

purge || fail "apt-get purge failed"
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    [ -z "$status" ] || [ "$status" = not-installed ] || fail "$package is $status after the purge"
done
while read -r path; do
    if [ -e "$path" ] || [ -L "$path" ]; then
        echo "left behind: $path"
    fi
done <"$work/new-paths" >"$work/left"
[ ! -s "$work/left" ] || fail "$(cat "$work/left")"

echo "package test: ${packages[*]} $version installed, consumer built with find_package and" \
    "pkg-config, ornlevel and its manual page found on the PATH, purged without leftovers"
