#!/usr/bin/env bash
# Builds the release files into dist/: the sdist, and the manylinux wheel that carries its own C++
# runtime in zorp_miner.libs. The wheel is built from the sdist in a fresh, isolated build
# environment (python -m build), so it proves that the sdist alone is enough; then
# scripts/repair_wheel.py bundles the runtime and retags the wheel with the platform tag that
# auditwheel show confirms. dist/ is emptied first; the wheel as built, before its repair, is left
# in build/dist/. Needs .venv (made by scripts/setup.sh when missing).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

say() { printf '[dist] %s\n' "$*" >&2; }

if [ ! -x .venv/bin/python ]; then
    "$root/scripts/setup.sh"
fi
python="$root/.venv/bin/python"

say "installing the packaging tools (scripts/dist-requirements.txt)"
"$python" -m pip install --quiet --disable-pip-version-check -r scripts/dist-requirements.txt

say "building the sdist, then the wheel from it"
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc 2>/dev/null || echo 2)}"
rm -rf build/dist dist
mkdir -p build
"$python" -m build --outdir build/dist . >build/dist.log 2>&1 || {
    cat build/dist.log >&2
    exit 1
}

say "bundling the C++ runtime into the wheel"
mkdir -p dist
cp build/dist/*.tar.gz dist/
"$python" scripts/repair_wheel.py --wheel-dir dist build/dist/*.whl >/dev/null
ls -1 dist/* >&2
