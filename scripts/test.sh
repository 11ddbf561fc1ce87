#!/usr/bin/env bash
# Sets everything up, then runs the tests.
#
#   scripts/test.sh        the everyday check (about 5 minutes on two cores): the C++ unit tests
#                          (warnings as errors), the type checks (the stubs against the modules,
#                          mypy --strict over the package, examples, tests and benchmarks), the
#                          import map (scripts/import_map.py) and the Python tests once, against
#                          the installed package
#   scripts/test.sh --all  the full check, which CI runs: the everyday check, then the C++ tests
#                          under AddressSanitizer and UndefinedBehaviorSanitizer, the same tests
#                          under ThreadSanitizer, the same tests built for 32-bit x86 Linux with
#                          musl, a short libFuzzer run over the core, the Python tests against the
#                          modules built with the sanitizers, and the release files (the sdist and
#                          the repaired wheel, installed into a fresh environment and tested there)
#
# Each stage prints its name when it starts and its duration when it ends, and a table of every
# stage's duration closes the run, also when a stage fails. Exits non-zero when any stage fails.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

say() { printf '[test] %s\n' "$*" >&2; }

full=0
case "${1:-}" in
"") ;;
--all) full=1 ;;
*)
    echo "usage: scripts/test.sh [--all]   (--all adds the sanitizers, 32-bit musl, fuzzing and the release wheel)" >&2
    exit 2
    ;;
esac

# shellcheck source=packages.sh
. "$root/scripts/packages.sh"

stages=()
started_all=$SECONDS
summary() {
    local status=$?
    if [ "${#stages[@]}" -gt 0 ]; then
        say "stage durations:"
        printf '[test]   %s\n' "${stages[@]}" >&2
    fi
    say "total $((SECONDS - started_all)) s, $([ "$status" -eq 0 ] && echo passed || echo FAILED)"
}
trap summary EXIT

# Runs one stage: its name, then the command; records how long it took.
stage() {
    local name=$1 began=$SECONDS
    shift
    say "== $name"
    "$@"
    local took=$((SECONDS - began))
    stages+=("$(printf '%5d s  %s' "$took" "$name")")
    say "== $name: $took s"
}

# GoogleTest comes from the system's packages; install it when it is missing.
ensure_gtest() {
    if [ -f /usr/include/gtest/gtest.h ]; then
        return 0
    fi
    say "installing GoogleTest (libgtest-dev)"
    install_packages libgtest-dev
}

setup() {
    "$root/scripts/setup.sh"
    ensure_gtest
}
stage "set-up (.venv, the package built and installed)" setup

python="$root/.venv/bin/python"
cmake_python=(-DPython_EXECUTABLE="$python" -Dpybind11_DIR="$("$python" -m pybind11 --cmakedir)")
jobs=$(nproc 2>/dev/null || echo 2)

# Builds the C++ tests into build/$1 with the CMake options that follow, and runs them.
cpp_tests() {
    local dir=build/$1
    shift
    cmake -S . -B "$dir" -DZORP_BUILD_TESTS=ON -DZORP_WERROR=ON "${cmake_python[@]}" "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

stage "C++ unit tests (-Wall -Wextra -Werror)" cpp_tests cpp -DCMAKE_BUILD_TYPE=Release

# stubtest imports the installed module and compares every name, class and property with the
# stub; the allowlist holds the two things pybind11 adds that a stub cannot say. The examples,
# the tests and the benchmarks are checked fully strict: the few calls that are wrong on
# purpose carry an ignore with its error code.
type_checks() {
    MYPYPATH="$root/python" "$python" -m mypy.stubtest _zorp_cpp zorp_miner._native \
        --allowlist "$root/python/stubtest-allowlist.txt"
    "$python" -m mypy --strict python/zorp_miner examples docs tests/python bench
    # No import circle, no layer importing a higher one unless docs/architecture.md says why.
    "$python" scripts/import_map.py
}
stage "type checks and the import map (stubtest; mypy --strict; scripts/import_map.py)" type_checks

# The tests are spread over one worker process per core (pytest-xdist), a module to a worker, so
# that a module's cluster or fixtures are made once.
pytest_args=(-q -p no:cacheprovider -n "$jobs" --dist loadscope)
stage "Python tests" "$python" -m pytest "${pytest_args[@]}"

if [ "$full" -eq 0 ]; then
    say "the everyday check passed; scripts/test.sh --all adds the sanitizers, 32-bit musl, fuzzing and the release wheel"
    exit 0
fi

sanitized_cpp() {
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        cpp_tests sanitize -DCMAKE_BUILD_TYPE=Debug -DZORP_SANITIZE=ON
}
stage "C++ unit tests under AddressSanitizer and UndefinedBehaviorSanitizer (leaks checked)" sanitized_cpp

# The threaded kernels' tasks must write apart and share nothing else: every C++ test again under
# ThreadSanitizer, with GoogleTest built from its sources so that it is instrumented too.
thread_sanitized_cpp() {
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 cpp_tests tsan -DCMAKE_BUILD_TYPE=Debug \
        -DZORP_TSAN=ON -DZORP_BUILD_MODULE=OFF -DZORP_GTEST_SOURCE_DIR=/usr/src/googletest -Wno-deprecated
}
stage "C++ unit tests under ThreadSanitizer" thread_sanitized_cpp

# The core where size_t and pointers are 32 bits and the C library is musl, the platform the
# module is made for (skipped, saying so, on a machine that cannot run 32-bit x86 programs).
stage "C++ unit tests for 32-bit x86 Linux with musl (zig c++, IA-32 emulation)" "$root/scripts/i686_musl.sh"

stage "fuzzing the C++ core (libFuzzer, ${FUZZ_SECONDS:-20} s per target)" "$root/scripts/fuzz.sh"

# The interpreter itself is not instrumented, so the sanitizer runtimes are preloaded; CPython
# keeps memory until exit by design, so leaks are not reported here. The package is laid out
# anew beside the sanitized modules, so that zorp_miner._native is the sanitized build too.
sanitized_python() {
    rm -rf build/sanitize/package
    mkdir -p build/sanitize/package
    cp -r python/zorp_miner build/sanitize/package/
    cp build/sanitize/_native*.so build/sanitize/package/zorp_miner/
    cp build/sanitize/_zorp_cpp*.so build/sanitize/package/
    local sanitized=(env "LD_PRELOAD=$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
        ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
        PYTHONPATH="$root/build/sanitize/package")
    "${sanitized[@]}" "$python" -c 'import _zorp_cpp, zorp_miner._native as n
assert "/build/sanitize/" in _zorp_cpp.__file__ and "/build/sanitize/" in n.__file__'
    "${sanitized[@]}" "$python" -m pytest "${pytest_args[@]}"
}
stage "Python tests against the modules built with the sanitizers" sanitized_python

stage "release files: the sdist and the repaired wheel, tested installed in a fresh environment" \
    "$root/scripts/check_dist.sh"
