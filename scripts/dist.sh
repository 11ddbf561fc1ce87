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

# The build takes a few minutes (an isolated environment, then both modules compiled with
# link-time optimisation): its steps are shown as they start, the whole log is kept.
say "building the sdist, then the wheel from it (a few minutes; log: build/dist.log)"
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc 2>/dev/null || echo 2)}"
rm -rf build/dist dist
mkdir -p build
set +e
"$python" -m build --outdir build/dist . 2>&1 | tee build/dist.log | {
    grep --line-buffered -E '^\* |Building CXX object|Linking CXX' |
        sed -u -e 's/^\* //' -e 's/^.*Building CXX object .*\/\([^/]*\)\.o$/compiling \1/' \
            -e 's/^.*Linking CXX [a-z ]* \([^ ]*\)$/linking \1/' -e 's/^/[dist]   /' >&2
    true
}
built=${PIPESTATUS[0]}
set -e
if [ "$built" -ne 0 ]; then
    cat build/dist.log >&2
    exit 1
fi

say "bundling the C++ runtime into the wheel"
mkdir -p dist
cp build/dist/*.tar.gz dist/
"$python" scripts/repair_wheel.py --wheel-dir dist build/dist/*.whl >/dev/null
ls -1 dist/* >&2
