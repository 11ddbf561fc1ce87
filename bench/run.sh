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

say "pattern search, 1000 series x 20000 points"
"$phases" search --series 1000 --points 20000 --seglen 10 --alphabet 6 --minsup 0.5

# Without normalisation the walks wander far from 0, and their words are long runs of the
# first and the last letter.
say "pattern search over long runs, 1000 series x 40000 points, not normalised"
"$phases" search --series 1000 --points 40000 --seglen 10 --alphabet 6 --minsup 0.5 --raw 1

# A hundred series, ten letters and a low threshold accept about 137,000 patterns with the
# default seed; with min_len 1 every one of them reaches the redundancy pass.
say "pattern search with a heavy redundancy pass"
"$phases" search --series 100 --points 20000 --seglen 10 --alphabet 10 --minsup 0.05 --min-len 1

# A threshold that is not positive accepts every word of 1 to 5 letters over the ten letters.
say "every candidate kept over two short words: 111,110 patterns to sift"
"$phases" search --words eecdcdccbideagcjaecbehgcefdhij,gfgf --minsup -1e308 --min-len 0 \
    --max-len 5

say "Miner phases, 1000 series x 10000 and x 40000 points"
"$phases" miner --series 1000 --points 10000
"$phases" miner --series 1000 --points 40000

say "Miner.mine against sax, from Python, and the C++ phase split"
"$python" bench/bench_miner.py

say "how soon Ctrl-C stops sax, PatternMiner.mine and Miner.mine"
"$python" bench/bench_interrupt.py

say "two local worker processes against one process, 4000 series x 10000 points, both modes"
"$python" bench/bench_cluster.py speed

say "the client's and the workers' peak memory over 40 files of 500 x 10000 points (1.6 GB)"
"$python" bench/bench_cluster.py memory

say "find_matches against STUMPY's match (needs bench/requirements.txt installed), 10^4 to 10^6 points"
"$python" bench/bench_matches.py

say "motifs within one series against STUMPY's stump + motifs (needs bench/requirements.txt and bench/data-requirements.txt installed)"
"$python" bench/bench_within.py

say "the closest pair within 20 walks of 10^5 points against STUMPY's stump, and the most-repeated shape"
"$python" bench/bench_closest_pair.py

say "discords within a walk and in white noise, against STUMPY's stump"
"$python" bench/bench_discords.py
