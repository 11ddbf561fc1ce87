#!/usr/bin/env bash
# Builds the libFuzzer targets in fuzz/ with clang (coverage, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for FUZZ_SECONDS (default 20) on a scratch copy of
# its committed seeds (FUZZ_SEED, default 1, seeds its mutations), after replaying the saved reproducers of fuzz/regressions/. Crash
# artifacts go to build/fuzz/artifacts/. Exits non-zero when any target fails.
#
#   scripts/fuzz.sh          build, then fuzz every target
#   scripts/fuzz.sh FILE...  build, then run the given inputs once through every target
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

say() { printf '[fuzz] %s\n' "$*" >&2; }

# shellcheck source=packages.sh
. "$root/scripts/packages.sh"

targets=(sax patterns miner proposals)
build=build/fuzz
seconds=${FUZZ_SECONDS:-20}
# A fixed seed makes a run repeat the last one's inputs (as far as its time reaches): a new
# crash is found by exploring (FUZZ_SEED=0 draws a seed), not at random by the test command.
fuzz_seed=${FUZZ_SEED:-1}
export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# Links a trivial fuzz target: true when clang++ and its libFuzzer runtime are both there.
can_build_fuzzers() {
    command -v clang++ >/dev/null 2>&1 || return 1
    local scratch
    scratch=$(mktemp -d)
    printf 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }\n' \
        >"$scratch/probe.cpp"
    local status=0
    clang++ -fsanitize=fuzzer "$scratch/probe.cpp" -o "$scratch/probe" >/dev/null 2>&1 || status=1
    rm -rf "$scratch"
    return "$status"
}

# clang and the libFuzzer runtime come from the system's packages; install them when missing.
ensure_clang() {
    if can_build_fuzzers; then
        return 0
    fi
    say "installing clang and its libFuzzer runtime"
    if ! command -v clang++ >/dev/null 2>&1; then
        install_packages clang
    fi
    # The runtime package must match the compiler's major version (14 on Debian 12).
    local major
    major=$(clang++ -dumpversion | cut -d. -f1)
    install_packages "libclang-rt-$major-dev"
    if ! can_build_fuzzers; then
        say "clang++ still cannot link a libFuzzer target"
        exit 1
    fi
}

ensure_clang
say "building the fuzz targets in $build"
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZORP_BUILD_FUZZERS=ON -DZORP_BUILD_MODULE=OFF >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)"

artifacts="$build/artifacts"
mkdir -p "$artifacts" "$build/logs"
failed=0

# Runs inputs once through a target; libFuzzer takes file arguments as inputs to run.
replay() {
    local target=$1
    shift
    if ! "$build/fuzz_$target" -artifact_prefix="$artifacts/$target-" "$@" \
        >"$build/logs/$target-replay.log" 2>&1; then
        say "FAILED: fuzz_$target on $*; see $build/logs/$target-replay.log"
        grep -E 'check failed|ERROR|terminate called|what\(\)' "$build/logs/$target-replay.log" |
            head -5 >&2 || true
        failed=1
    fi
}

if [ "$#" -gt 0 ]; then
    for target in "${targets[@]}"; do
        replay "$target" "$@"
    done
    [ "$failed" -eq 0 ] && say "every target ran the given inputs cleanly"
    exit "$failed"
fi

for target in "${targets[@]}"; do
    shopt -s nullglob
    regressions=(fuzz/regressions/"$target"-*)
    shopt -u nullglob
    if [ "${#regressions[@]}" -gt 0 ]; then
        say "fuzz_$target: replaying ${#regressions[@]} reproducer(s) from fuzz/regressions"
        replay "$target" "${regressions[@]}"
    fi

    # New inputs go to the scratch corpus, which keeps growing from run to run; the committed
    # seeds are only copied from.
    corpus="$build/corpus/$target"
    mkdir -p "$corpus"
    cp fuzz/corpus/"$target"/* "$corpus"/
    log="$build/logs/$target.log"
    say "fuzz_$target: fuzzing for $seconds s (log: $log)"
    status=0
    "$build/fuzz_$target" -max_total_time="$seconds" -seed="$fuzz_seed" -rss_limit_mb=2048 -timeout=60 \
        -print_final_stats=1 -artifact_prefix="$artifacts/$target-" "$corpus" >"$log" 2>&1 ||
        status=$?
    grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 >&2 || true
    if [ "$status" -ne 0 ]; then
        failed=1
        say "FAILED: fuzz_$target exited with $status"
        grep -E 'check failed|ERROR|terminate called|what\(\)' "$log" | head -5 >&2 || true
        grep -E 'Test unit written to|artifact_prefix' "$log" >&2 || true
    fi
done

if [ "$failed" -ne 0 ]; then
    say "a target failed: reproduce with scripts/fuzz.sh <artifact>"
    exit 1
fi
say "no failures"
