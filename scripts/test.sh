#!/usr/bin/env bash
# Sets everything up, then runs every test: the C++ unit tests (warnings as errors), the same
# tests under AddressSanitizer and UndefinedBehaviorSanitizer, the same tests built for 32-bit
# x86 Linux with musl and run under IA-32 emulation, the type checks (the stub against
# the module; the package, examples, tests and benchmarks under mypy --strict), the Python tests
# against the installed module, a short libFuzzer run over the core, the Python tests again
# against the module built with the sanitizers, and the release files: the sdist and the
# repaired wheel, installed into a fresh environment and tested there. Exits non-zero when any
# of them fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

say() { printf '[test] %s\n' "$*" >&2; }

# shellcheck source=packages.sh
. "$root/scripts/packages.sh"

# GoogleTest comes from the system's packages; install it when it is missing.
ensure_gtest() {
    if [ -f /usr/include/gtest/gtest.h ]; then
        return 0
    fi
    say "installing GoogleTest (libgtest-dev)"
    install_packages libgtest-dev
}

"$root/scripts/setup.sh"
ensure_gtest

python="$root/.venv/bin/python"
cmake_python=(-DPython_EXECUTABLE="$python" -Dpybind11_DIR="$("$python" -m pybind11 --cmakedir)")
jobs=$(nproc 2>/dev/null || echo 2)

say "C++ unit tests (-Wall -Wextra -Werror)"
cmake -S . -B build/cpp -DCMAKE_BUILD_TYPE=Release -DZORP_BUILD_TESTS=ON -DZORP_WERROR=ON \
    "${cmake_python[@]}" >/dev/null
cmake --build build/cpp -j "$jobs"
ctest --test-dir build/cpp --output-on-failure -j "$jobs"

say "C++ unit tests under AddressSanitizer and UndefinedBehaviorSanitizer (leaks checked)"
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DZORP_BUILD_TESTS=ON -DZORP_WERROR=ON \
    -DZORP_SANITIZE=ON "${cmake_python[@]}" >/dev/null
cmake --build build/sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build/sanitize --output-on-failure -j "$jobs"

# The core where size_t and pointers are 32 bits and the C library is musl, the platform the
# module is made for (skipped, saying so, on a machine that cannot run 32-bit x86 programs).
say "C++ unit tests for 32-bit x86 Linux with musl (zig c++, run under IA-32 emulation)"
"$root/scripts/i686_musl.sh"

say "Python tests"
"$python" -m pytest -q

# stubtest imports the installed module and compares every name, class and property with the
# stub; the allowlist holds the two things pybind11 adds that a stub cannot say. The examples,
# the tests and the benchmarks are checked fully strict: the few calls that are wrong on
# purpose carry an ignore with its error code.
say "Type checks: the stubs against the modules, mypy --strict over the package, examples/, docs/, tests/python, bench/"
MYPYPATH="$root/python" "$python" -m mypy.stubtest _zorp_cpp zorp_miner._native \
    --allowlist "$root/python/stubtest-allowlist.txt"
"$python" -m mypy --strict python/zorp_miner examples docs tests/python bench

say "Fuzzing the C++ core (libFuzzer, ${FUZZ_SECONDS:-20} s per target)"
"$root/scripts/fuzz.sh"

# The interpreter itself is not instrumented, so the sanitizer runtimes are preloaded; CPython
# keeps memory until exit by design, so leaks are not reported here.
say "Python tests against the module built with the sanitizers"
# The package is laid out anew beside the sanitized modules, so that zorp_miner._native is the
# sanitized build too.
rm -rf build/sanitize/package
mkdir -p build/sanitize/package
cp -r python/zorp_miner build/sanitize/package/
cp build/sanitize/_native*.so build/sanitize/package/zorp_miner/
cp build/sanitize/_zorp_cpp*.so build/sanitize/package/
sanitized=(env "LD_PRELOAD=$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    PYTHONPATH="$root/build/sanitize/package")
"${sanitized[@]}" "$python" -c 'import _zorp_cpp, zorp_miner._native as n
assert "/build/sanitize/" in _zorp_cpp.__file__ and "/build/sanitize/" in n.__file__'
"${sanitized[@]}" "$python" -m pytest -q -p no:cacheprovider

say "Release files: the sdist and the repaired wheel, tested installed in a fresh environment"
"$root/scripts/check_dist.sh"
