#!/usr/bin/env bash
# Sets everything up, then runs motif discovery on the bundled example series.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh"
exec "$root/.venv/bin/python" "$root/examples/demo.py" "$@"
