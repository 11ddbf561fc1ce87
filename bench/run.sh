#!/usr/bin/env bash
# Builds the module and the C++ benchmark, then runs every benchmark once, printing figures.
# Nothing here checks a time; the benchmarks are not part of the test run.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

python="$root/.venv/bin/python"
phases="$root/build/bench/bench_phases"

say() { printf '\n[bench] %s\n' "$*"; }

./scripts/setup.sh
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DZORP_BUILD_BENCH=ON \
    -DZORP_BUILD_MODULE=OFF >/dev/null
cmake --build build/bench -j2

say "sax and the input conversion, from Python"
"$python" bench/bench_sax.py

say "pattern mining step by step, 1000 series x 20000 points"
"$phases" mining --series 1000 --points 20000 --seglen 10 --alphabet 6 --minsup 0.5

# A hundred series, ten letters and a low threshold accept about 137,000 patterns with the
# default seed; with min_len 1 every one of them reaches the redundancy pass.
say "pattern mining with a heavy redundancy pass"
"$phases" mining --series 100 --points 20000 --seglen 10 --alphabet 10 --minsup 0.05 --min-len 1

say "Miner.mine against sax, from Python, and the C++ phase split"
"$python" bench/bench_miner.py
