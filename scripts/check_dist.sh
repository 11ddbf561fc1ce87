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

say "installing $(basename "$wheel") into a fresh virtual environment"
venv="$root/build/dist-check"
rm -rf "$venv"
"$python" -m venv "$venv"
"$venv/bin/python" -m pip install --quiet --disable-pip-version-check "$wheel[test]"

say "the installed extension modules link and load the bundled C++ runtime"
"$venv/bin/python" -I scripts/check_dist.py installed

# -I keeps the source tree and PYTHONPATH off sys.path: the tests import the installed wheel.
say "Python tests against the installed wheel"
"$venv/bin/python" -I -m pytest -q -p no:cacheprovider tests/python
