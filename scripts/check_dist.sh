#!/usr/bin/env bash
# Checks the release files as a user meets them. Builds them with scripts/dist.sh (the wheel from
# the sdist, in an isolated build environment), then: twine check on both; the sdist holds only
# what building needs; auditwheel show confirms the wheel's manylinux tag; the wheel, installed
# into a fresh virtual environment, links and loads its own copies of the C++ runtime
# (readelf -d, LD_DEBUG=libs); and the Python tests pass against that installation.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

say() { printf '[dist] %s\n' "$*" >&2; }

"$root/scripts/dist.sh"
python="$root/.venv/bin/python"
sdist=$(ls dist/*.tar.gz)
wheel=$(ls dist/*.whl)

say "twine check"
"$python" -m twine check --strict "$sdist" "$wheel"

say "the sdist's contents and the wheel's platform tag"
"$python" scripts/check_dist.py sdist "$sdist"
"$python" scripts/check_dist.py tag "$wheel"

say "installing $(basename "$wheel") and its test extras into a fresh virtual environment"
venv="$root/build/dist-check"
rm -rf "$venv"
"$python" -m venv "$venv"
# The extras pull in numpy, pandas, matplotlib, dask and the test tools: the packages are named
# as they are installed, the rest of pip's output goes to build/dist-install.log.
set +e
"$venv/bin/python" -m pip install --disable-pip-version-check --progress-bar off "$wheel[test]" \
    2>&1 | tee build/dist-install.log | {
    grep --line-buffered -E '^(Collecting|Installing collected packages|Successfully installed)' |
        cut -c1-110 | sed -u 's/^/[dist]   /' >&2
    true
}
installed=${PIPESTATUS[0]}
set -e
if [ "$installed" -ne 0 ]; then
    cat build/dist-install.log >&2
    exit 1
fi

say "the installed extension modules link and load the bundled C++ runtime"
"$venv/bin/python" -I scripts/check_dist.py installed

# -I keeps the source tree and PYTHONPATH off sys.path: the tests import the installed wheel.
say "Python tests against the installed wheel (a few minutes)"
"$venv/bin/python" -I -m pytest -q -p no:cacheprovider -n "$(nproc 2>/dev/null || echo 2)" --dist loadscope \
    tests/python
