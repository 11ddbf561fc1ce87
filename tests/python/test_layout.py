"""The package's layout holds: no import circle, no layer importing a higher one but for what
docs/architecture.md explains (scripts/import_map.py), and the modules documents name import."""

import pathlib
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
SCRIPT = ROOT / "scripts" / "import_map.py"


def import_map(package: pathlib.Path | None = None) -> subprocess.CompletedProcess[str]:
    arguments = [] if package is None else [str(package)]
    return subprocess.run([sys.executable, str(SCRIPT), *arguments], capture_output=True, text=True)


def test_the_package_has_no_circle_and_no_unexplained_upward_import() -> None:
    done = import_map()
    assert done.returncode == 0, done.stdout + done.stderr
    assert "circles: 0" in done.stdout


@pytest.mark.parametrize(
    ("files", "complaint"),
    [
        # A circle closed by a type-checking import and a lazy one.
        (
            {
                "results.py": "from typing import TYPE_CHECKING\nif TYPE_CHECKING:\n    from zorp_miner.api import x\n",
                "api.py": "def f():\n    from zorp_miner import results\n",
            },
            "zorp_miner.api <-> zorp_miner.results",
        ),
        # The base importing an entry point, which the architecture page does not explain.
        ({"params.py": "from zorp_miner.api import find_motifs\n", "api.py": "find_motifs = 1\n"}, "not explained"),
    ],
)
def test_a_circle_or_an_unexplained_upward_import_fails(
    tmp_path: pathlib.Path, files: dict[str, str], complaint: str
) -> None:
    package = tmp_path / "zorp_miner"
    package.mkdir()
    (package / "__init__.py").write_text("")
    for name, text in files.items():
        (package / name).write_text(text)
    done = import_map(package)
    assert done.returncode == 1 and complaint in done.stdout, done.stdout


@pytest.mark.parametrize(
    "module",
    ["zorp_miner.inputs", "zorp_miner.files", "zorp_miner.matches", "zorp_miner.occurrences", "zorp_miner.within",
     "zorp_miner.params", "zorp_miner.progress", "zorp_miner.plot", "zorp_miner.cli"],
)
def test_the_modules_documents_and_earlier_releases_name_still_import(module: str) -> None:
    """Results pickled by earlier releases name zorp_miner.matches.Matches and
    zorp_miner.occurrences.Occurrences; the README and docstrings name the others."""
    import importlib

    importlib.import_module(module)


def test_results_pickled_before_the_layout_load_as_the_same_classes() -> None:
    """A Matches and an Occurrences pickled by the flat layout (as zorp_miner.matches.Matches and
    zorp_miner.occurrences.Occurrences) load; the matches are today's, bit for bit."""
    import pickle

    import numpy as np

    import zorp_miner

    held = pickle.loads((pathlib.Path(__file__).parent / "data" / "pickled_by_0.2.pkl").read_bytes())
    matches, occurrences = (pickle.loads(held[name]) for name in ("matches", "occurrences"))
    assert isinstance(matches, zorp_miner.Matches) and isinstance(occurrences, zorp_miner.Occurrences)
    walk = np.cumsum(np.random.default_rng(5).normal(size=6000))
    shape = np.repeat([0.0, 20.0, -10.0, 10.0], 15)
    for start in (700, 2500, 4100):
        walk[start : start + 60] += shape
    again = zorp_miner.find_matches(shape, walk)
    for name in ("series", "starts", "distances"):
        assert getattr(matches, name).tobytes() == getattr(again, name).tobytes()
    assert occurrences.ranks.dtype == np.int64 and not occurrences.distances.flags.writeable
