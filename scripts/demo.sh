#!/usr/bin/env bash
# Sets everything up, then runs zorp-miner on the bundled example series: prints the ranked
# motifs and draws the best ones over the data into build/demo/planted-motifs.png.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh"
cd "$root"
mkdir -p build/demo
exec "$root/.venv/bin/zorp-miner" examples/planted.json --seglen 8 --min-len 6 \
    --plot build/demo/planted-motifs.png "$@"
