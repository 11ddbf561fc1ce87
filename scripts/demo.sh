#!/usr/bin/env bash
# Sets everything up, then runs zorp-miner in its default, robust mode on the bundled example of
# unaligned shapes: prints the ranked motifs and draws the best ones over the data into
# build/demo/unaligned-motifs.png. Further options are passed to zorp-miner.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh"
cd "$root"
mkdir -p build/demo
exec "$root/.venv/bin/zorp-miner" examples/unaligned.json --plot build/demo/unaligned-motifs.png "$@"
