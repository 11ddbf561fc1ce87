"""The typed stub of _zorp_cpp as installed: beside the module, and as the stub-only package
that mypy finds without any configuration. (scripts/test.sh checks the stub itself against the
module with stubtest.)"""

import pathlib
import subprocess
import sys
import sysconfig
import textwrap

import pytest

SOURCE = pathlib.Path(__file__).resolve().parents[2] / "python" / "_zorp_cpp.pyi"
INSTALLED = pathlib.Path(sysconfig.get_paths()["platlib"])


@pytest.mark.parametrize("place", ["_zorp_cpp.pyi", "_zorp_cpp-stubs/__init__.pyi"])
def test_installed_stubs_are_the_source_stub(place: str) -> None:
    assert (INSTALLED / place).read_text() == SOURCE.read_text()


USE = """
import numpy as np
import _zorp_cpp

reveal_type(_zorp_cpp.sax(np.zeros((2, 3)), 1, 4))
reveal_type(_zorp_cpp.Miner(0.5, 2, 4).mine([[1.0, 2], (3, 4.5)]))
reveal_type(_zorp_cpp.PatternMiner(0.5).frequent)
_zorp_cpp.sax([[1.0]], 1.5, 4)
_zorp_cpp.Miner(0.5, 2, 4).mine([["a"]])
"""


def test_mypy_finds_the_types_of_an_installed_module(tmp_path: pathlib.Path) -> None:
    (tmp_path / "use.py").write_text(textwrap.dedent(USE))
    (tmp_path / "mypy.ini").write_text("[mypy]\n")
    run = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", "use.py"],
        cwd=tmp_path,
        capture_output=True,
        text=True,
    )
    # (Older mypy releases name the builtins in full.)
    output = run.stdout.replace("builtins.", "")
    lines = [line.split(": ", 1)[1] for line in output.splitlines() if ": " in line]
    assert lines[:3] == [
        'note: Revealed type is "list[list[str]]"',
        'note: Revealed type is "list[_zorp_cpp.Motif]"',
        'note: Revealed type is "dict[str, _zorp_cpp.Motif]"',
    ], run.stdout
    errors = [line for line in lines if line.startswith("error:")]
    assert len(errors) == 2, run.stdout
    assert '"float"; expected "SupportsIndex"' in errors[0]
    assert '"str"; expected "SupportsFloat | SupportsIndex"' in errors[1]
