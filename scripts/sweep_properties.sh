#!/usr/bin/env bash
# Runs the randomised Python tests over many seeds under the sweep profile: new examples each
# time, and ZORP_SWEEP_FACTOR (default 10) times as many per property as the test command draws
# (which draws the same few on every run). Set ZORP_SWEEP_FACTOR=1 for a seed sweep at the
# everyday counts. Stops at the first seed that fails and prints it, so the failure can be
# repeated with the same --hypothesis-seed.
#
#   scripts/sweep_properties.sh FIRST LAST [pytest arguments...]
#   scripts/sweep_properties.sh 1 200 tests/python/test_robust_evidence.py -k planted
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
if [ "$#" -lt 2 ]; then
    echo "usage: scripts/sweep_properties.sh FIRST LAST [pytest arguments...]" >&2
    exit 2
fi
first=$1 last=$2
shift 2
[ "$#" -gt 0 ] || set -- tests/python
for seed in $(seq "$first" "$last"); do
    if ! ZORP_HYPOTHESIS=sweep "$root/.venv/bin/python" -m pytest -q -p no:cacheprovider \
        --hypothesis-seed="$seed" "$@" >"${TMPDIR:-/tmp}/sweep-$seed.log" 2>&1; then
        echo "seed $seed FAILED (log: ${TMPDIR:-/tmp}/sweep-$seed.log)" >&2
        exit 1
    fi
    rm -f "${TMPDIR:-/tmp}/sweep-$seed.log"
    echo "seed $seed passed"
done
