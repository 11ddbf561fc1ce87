#!/usr/bin/env bash
# Sets up everything the demo and the Python tests need, from nothing: finds a Python 3.12,
# creates .venv with it, and builds and installs zorp_miner into it. Safe to run again; later
# runs reuse the environment and rebuild only what changed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

say() { printf '[setup] %s\n' "$*" >&2; }

is_python312() {
    "$1" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 12))' >/dev/null 2>&1
}

# PYTHON312 when set, else a plain python3.12 on PATH, else a 3.12 installed under pyenv (whose
# shim fails until a 3.12 is selected, and which may not be on PATH), else the usual install
# locations. Prints the interpreter's real path.
find_python312() {
    local candidate version pyenv_root
    if [ -n "${PYTHON312:-}" ] && is_python312 "$PYTHON312"; then
        printf '%s\n' "$PYTHON312"
        return 0
    fi
    if command -v python3.12 >/dev/null 2>&1 && is_python312 python3.12; then
        python3.12 -c 'import sys; print(sys.executable)'
        return 0
    fi
    if command -v pyenv >/dev/null 2>&1; then
        pyenv_root=$(pyenv root)
        version=$(pyenv versions --bare 2>/dev/null | grep -E '^3\.12(\.[0-9]+)?$' | sort -V | tail -n 1 || true)
        candidate="$pyenv_root/versions/$version/bin/python3.12"
        if [ -n "$version" ] && is_python312 "$candidate"; then
            printf '%s\n' "$candidate"
            return 0
        fi
    fi
    for candidate in "${PYENV_ROOT:-$HOME/.pyenv}"/versions/3.12*/bin/python3.12 \
        /usr/local/bin/python3.12 /usr/bin/python3.12; do
        if [ -x "$candidate" ] && is_python312 "$candidate"; then
            printf '%s\n' "$candidate"
            return 0
        fi
    done
    return 1
}

if [ -x .venv/bin/python ] && is_python312 .venv/bin/python; then
    python=.venv/bin/python
else
    if ! interpreter=$(find_python312); then
        say "zorp_miner needs Python 3.12, and no python3.12 was found (not on PATH, not under pyenv,"
        say "not in /usr/local/bin or /usr/bin). Install Python 3.12 (for example 'pyenv install 3.12')"
        say "or set PYTHON312 to its path, then run this again."
        exit 1
    fi
    say "creating .venv with $interpreter"
    rm -rf .venv
    "$interpreter" -m venv .venv
    python=.venv/bin/python
fi

say "installing build and test requirements"
build_tools=("scikit-build-core>=0.10" "pybind11==2.13.6")
command -v cmake >/dev/null 2>&1 || build_tools+=("cmake>=3.18")
command -v ninja >/dev/null 2>&1 || build_tools+=("ninja")
# numpy is the package's one dependency (2.4 or later for the tests of array input: earlier ones
# still convert a one-element array to a float, with a warning); pandas, matplotlib and dask
# (its extras; the cluster tests start a local Dask cluster), mypy and the pandas stubs are what
# the tests and the type checks need; pytest-xdist spreads the tests over the cores.
"$python" -m pip install --quiet --disable-pip-version-check "${build_tools[@]}" \
    "pytest>=8" "pytest-xdist>=3" "hypothesis>=6" "numpy>=2.4" "pandas>=2.1" "matplotlib>=3.10" \
    "dask[distributed]>=2024.8" "mypy>=1.11" pandas-stubs

say "building and installing zorp_miner"
"$python" -m pip install --quiet --disable-pip-version-check --no-build-isolation --no-deps .
