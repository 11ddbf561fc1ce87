#!/usr/bin/env bash
# Builds the C++ core and its unit tests for 32-bit x86 Linux with musl, the platform the module
# is made for, and runs them on this machine under the kernel's IA-32 emulation: there size_t
# and pointers are 32 bits, which the x86_64 builds never check. The tests are linked against
# musl's shared C library and run through the loader of Debian 13's i386 musl package, which
# this script fetches by name into build/i686-musl without changing the system's apt
# configuration. The cross compiler is zig (zig_version below, from PyPI, installed into the
# user's cache); GoogleTest is built from the sources libgtest-dev installs in
# /usr/src/googletest. On a machine that cannot run 32-bit x86 programs it says so in one line
# and skips the tests. Exits non-zero when a step or a test fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

say() { printf '[i686-musl] %s\n' "$*" >&2; }

# shellcheck source=packages.sh
. "$root/scripts/packages.sh"

# Pinned, so that every run builds with the same compiler and C++ runtime. zig's default x86
# target is the Pentium 4, with SSE2 floating point; under -march=i686 (x87) zig's own std::ceil
# has been seen to give ceil(7.0 / 3) as 2.33349609375, which would test zig, not this code.
zig_version=0.17.1
target=x86-linux-musl
# musl 1.2.5 or later: Debian 12's 1.2.3 lacks symbols (statx) that zig's musl programs use.
musl_suite=trixie
musl_least=1.2.5

work="$root/build/i686-musl"
python="$root/.venv/bin/python"
jobs=$(nproc 2>/dev/null || echo 2)

if [ ! -x "$python" ]; then
    say "no .venv here: run scripts/setup.sh first"
    exit 1
fi

# The mirror this machine's own Debian packages come from.
debian_mirror() {
    local codename
    codename=$(. /etc/os-release && printf '%s' "${VERSION_CODENAME:-}")
    if [ -n "${ZORP_DEBIAN_MIRROR:-}" ]; then
        printf '%s\n' "$ZORP_DEBIAN_MIRROR"
    elif [ -n "$codename" ]; then
        apt-get indextargets --format '$(REPO_URI)' "Release: $codename" 'Identifier: Packages' |
            head -n 1
    fi
}

# Fetches Debian's i386 musl package by name and unpacks it into $work/musl. apt-get reads a
# sources list, index and cache of its own here, so the system's configuration and package
# lists stay as they were; the system's keyring checks the index.
fetch_musl() {
    local mirror apt=$work/apt
    mirror=$(debian_mirror)
    if [ -z "$mirror" ]; then
        say "cannot tell which Debian mirror this machine uses: set ZORP_DEBIAN_MIRROR to one"
        exit 1
    fi
    rm -rf "$apt" "$work/musl" "$work"/musl_*.deb
    mkdir -p "$apt/sources.list.d" "$apt/preferences.d" "$apt/lists/partial" \
        "$apt/cache/archives/partial"
    printf 'deb [arch=i386 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s %s main\n' \
        "$mirror" "$musl_suite" >"$apt/sources.list"
    local options=(-o "Dir::Etc::SourceList=$apt/sources.list"
        -o "Dir::Etc::SourceParts=$apt/sources.list.d"
        -o "Dir::Etc::Preferences=$apt/preferences"
        -o "Dir::Etc::PreferencesParts=$apt/preferences.d"
        -o "Dir::State=$apt" -o "Dir::State::Lists=$apt/lists" -o "Dir::State::status=/dev/null"
        -o "Dir::Cache=$apt/cache" -o APT::Architecture=i386
        -o "APT::Sandbox::User=$(id -un)" -o Debug::NoLocking=1)
    apt-get "${options[@]}" update -qq
    (cd "$work" && apt-get "${options[@]}" download -qq musl:i386)
    dpkg-deb -x "$work"/musl_*_i386.deb "$work/musl"
}

if ! command -v apt-get >/dev/null 2>&1; then
    say "no apt-get here to fetch Debian's i386 musl package with"
    exit 1
fi
shopt -s nullglob
debs=("$work"/musl_*_i386.deb)
shopt -u nullglob
if [ "${#debs[@]}" -ne 1 ] || [ ! -e "$work/musl/usr/lib/ld-musl-i386.so.1" ]; then
    say "fetching musl for i386 from Debian's $musl_suite packages"
    fetch_musl
fi
musl_version=$(dpkg-deb -f "$work"/musl_*_i386.deb Version)
if ! dpkg --compare-versions "$musl_version" ge "$musl_least"; then
    say "Debian's $musl_suite has musl $musl_version for i386; zig needs $musl_least or later"
    exit 1
fi
loader="$work/musl/usr/lib/ld-musl-i386.so.1"

# The loader is itself a 32-bit x86 program, which says who it is when run alone (and exits
# with 1): whether the kernel will run it tells whether this machine runs such programs at all,
# before anything is built. The shell's status 126 is the kernel's refusal; anything else that
# goes wrong is a failure.
status=0
banner=$("$loader" 2>&1) || status=$?
if [ "$status" -eq 126 ]; then
    say "SKIPPED: this machine cannot run 32-bit x86 programs; the core is not tested for i686 musl"
    exit 0
fi
if [[ "$banner" != "musl libc (i386)"* ]]; then
    say "the loader ${loader#"$root"/} did not run as it should (status $status): $banner"
    exit 1
fi
say "musl $musl_version's loader: ${loader#"$root"/}"

# zig keeps what it builds for a target (its C++ runtime and musl, minutes of work) in
# ~/.cache/zig, keyed on its own files: a zig installed afresh, as into the .venv of every fresh
# clone, builds them all again. So it is installed once per version into the user's cache,
# beside pip's and zig's own, and used from there.
zig_home="${XDG_CACHE_HOME:-$HOME/.cache}/zorp_miner/ziglang-$zig_version"
zig="$zig_home/ziglang/zig"
if [ "$("$zig" version 2>/dev/null || true)" != "$zig_version" ]; then
    say "installing zig $zig_version (PyPI package ziglang) into $zig_home"
    rm -rf "$zig_home"
    "$python" -m pip install --quiet --disable-pip-version-check --no-deps --target "$zig_home" \
        "ziglang==$zig_version"
fi
say "zig $("$zig" version): $zig"

# CMake takes a compiler as one program: these name zig's C++ compiler for the target and its
# archiver.
mkdir -p "$work/bin"
printf '#!/bin/sh\nexec "%s" c++ -target %s "$@"\n' "$zig" "$target" >"$work/bin/c++"
printf '#!/bin/sh\nexec "%s" ar "$@"\n' "$zig" >"$work/bin/ar"
printf '#!/bin/sh\nexec "%s" ranlib "$@"\n' "$zig" >"$work/bin/ranlib"
chmod +x "$work/bin/c++" "$work/bin/ar" "$work/bin/ranlib"

# GoogleTest's sources come with libgtest-dev (in its dependency googletest).
if [ ! -f /usr/src/googletest/CMakeLists.txt ]; then
    say "installing GoogleTest's sources (libgtest-dev)"
    install_packages libgtest-dev
fi

# Every program the build runs (GoogleTest's listing of the tests, then CTest's runs) goes
# through the loader: the tests are linked against musl's shared C library (zig links musl
# programs statically unless told -dynamic), as the extension modules are. -Wno-deprecated
# quiets CMake about the old minimum version GoogleTest's sources declare.
build="$work/build"
say "building the core and its unit tests for $target (-Wall -Wextra -Werror)"
cmake -Wno-deprecated -S . -B "$build" -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=i686 \
    -DCMAKE_CXX_COMPILER="$work/bin/c++" -DCMAKE_AR="$work/bin/ar" \
    -DCMAKE_RANLIB="$work/bin/ranlib" -DCMAKE_EXE_LINKER_FLAGS=-dynamic \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$loader" -DCMAKE_BUILD_TYPE=Release \
    -DZORP_BUILD_MODULE=OFF -DZORP_BUILD_TESTS=ON -DZORP_WERROR=ON \
    -DZORP_GTEST_SOURCE_DIR=/usr/src/googletest >/dev/null
cmake --build "$build" -j "$jobs"

# What ran must be what was meant: a 32-bit x86 program that asks for musl's loader.
tests="$build/zorp_tests"
if ! readelf -h "$tests" | grep -Eq 'Class:[[:space:]]+ELF32' ||
    ! readelf -h "$tests" | grep -Eq 'Machine:[[:space:]]+Intel 80386' ||
    ! readelf -l "$tests" | grep -q 'interpreter: /lib/ld-musl-i386.so.1'; then
    say "$tests is not a dynamically linked 32-bit x86 musl program"
    exit 1
fi

say "running the unit tests under IA-32 emulation"
ctest --test-dir "$build" --output-on-failure -j "$jobs"
