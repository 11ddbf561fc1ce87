"""Importing _zorp_cpp: what it holds, what it exports, and interpreters it refuses."""

import glob
import os
import pathlib
import shutil
import subprocess
import sys

import pytest

import _zorp_cpp

MISMATCH = (
    "Python version mismatch: module was compiled for Python 3.12, "
    "but the interpreter version is incompatible: {}."
)


def test_module_attributes_are_exactly_the_four_names() -> None:
    own = {name for name in vars(_zorp_cpp) if not name.startswith("__")}
    assert own == {"Motif", "Miner", "PatternMiner", "sax"}
    assert _zorp_cpp.__doc__ is None


def signature(function: object) -> str:
    """The signature line pybind11 writes as a function's docstring."""
    text = function.__doc__
    assert isinstance(text, str)
    return text.strip()


def test_classes_carry_no_docstrings_and_signatures_name_motif() -> None:
    for cls in (_zorp_cpp.Motif, _zorp_cpp.Miner, _zorp_cpp.PatternMiner):
        assert cls.__doc__ is None
    assert signature(_zorp_cpp.Miner.mine).endswith("-> list[_zorp_cpp.Motif]")
    assert "arg0: list[list[str]]) -> None" in signature(_zorp_cpp.PatternMiner.mine)
    frequent = vars(_zorp_cpp.PatternMiner)["frequent"]
    assert signature(frequent.fget).endswith("-> dict[str, _zorp_cpp.Motif]")
    assert signature(_zorp_cpp.sax) == (
        "sax(ts: list[list[float]], seglen: int, alphabet: int) -> list[list[str]]"
    )


def test_only_the_entry_point_is_exported() -> None:
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    listing = subprocess.run(
        [nm, "-D", "--defined-only", _zorp_cpp.__file__], capture_output=True, text=True, check=True
    )
    assert [line.split()[-1] for line in listing.stdout.splitlines()] == ["PyInit__zorp_cpp"]


def other_interpreters() -> list[str]:
    """Working CPython 3.11 and 3.13 interpreters on PATH or under pyenv."""
    candidates = [shutil.which(f"python3.{minor}") for minor in (11, 13)]
    pyenv_root = os.environ.get("PYENV_ROOT", os.path.expanduser("~/.pyenv"))
    for minor in (11, 13):
        candidates += sorted(glob.glob(f"{pyenv_root}/versions/3.{minor}.*/bin/python3.{minor}"))
    found, minors = [], set()
    for candidate in filter(None, candidates):
        probe = subprocess.run(
            [candidate, "-c", "import sys; print(sys.version_info[1])"],
            capture_output=True,
            text=True,
            env={k: v for k, v in os.environ.items() if k != "PYENV_VERSION"},
        )
        if probe.returncode == 0 and probe.stdout.strip() not in minors:
            minors.add(probe.stdout.strip())
            found.append(candidate)
    return found


@pytest.mark.parametrize("interpreter", other_interpreters() or [None])
def test_other_interpreter_versions_are_refused(
    interpreter: str | None, tmp_path: pathlib.Path
) -> None:
    if interpreter is None:
        pytest.skip("no Python 3.11 or 3.13 interpreter on this machine")
    # Another minor version looks only for its own file suffix, so offer the module under a
    # plain name, with the C++ runtime that an installed wheel keeps beside it.
    module = pathlib.Path(_zorp_cpp.__file__)
    shutil.copy(module, tmp_path / "_zorp_cpp.so")
    if (module.parent / "zorp_miner.libs").is_dir():
        shutil.copytree(module.parent / "zorp_miner.libs", tmp_path / "zorp_miner.libs")
    script = (
        "import sys\n"
        "try:\n"
        "    import _zorp_cpp\n"
        "except ImportError as error:\n"
        "    print(str(error)); print(sys.version)\n"
        "else:\n"
        "    print('imported')\n"
    )
    run = subprocess.run(
        [interpreter, "-c", script], cwd=tmp_path, capture_output=True, text=True, timeout=60
    )
    assert run.returncode == 0, run.stderr
    message, version = run.stdout.split("\n", 1)
    assert message == MISMATCH.format(version.rstrip("\n"))


def test_reimport_in_a_fresh_interpreter_works() -> None:
    run = subprocess.run(
        [sys.executable, "-c", "import _zorp_cpp; print(_zorp_cpp.sax([[1.0, -1.0]], 1, 2))"],
        capture_output=True,
        text=True,
        cwd=pathlib.Path(__file__).parent,
    )
    assert run.stdout.strip() == "[['b', 'a']]"


# Another C++ extension in the same process brings the system's C++ runtime beside the copy the
# wheel may carry; the two then share the locale's facet ids, and a stream of the wheel's copy can
# no longer format a number. Messages must keep their numbers whatever else was loaded first.
def test_messages_keep_their_numbers_beside_another_cpp_runtime() -> None:
    pytest.importorskip("matplotlib.ft2font")
    script = """
import matplotlib.ft2font
import _zorp_cpp
messages = []
for call in (lambda: _zorp_cpp.PatternMiner(-0.5).mine([["a"]]),
             lambda: _zorp_cpp.PatternMiner(0.0, max_len=10**6).mine([list("abcdefghij")])):
    try:
        call()
    except ValueError as error:
        messages.append(str(error))
print("\\n".join(messages))
"""
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True)
    first, second = run.stdout.splitlines()
    assert first.startswith("support threshold (minsup x number of words) is -0.5, not positive")
    assert "10 letters give 10^n patterns of each length n up to max_len 1000000" in second
    assert " GiB this machine can give" in second
