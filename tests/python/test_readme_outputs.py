"""The outputs README.md shows are what the code prints now (docs/readme_outputs.py makes them)."""

import importlib.util
import pathlib
import sys
from types import ModuleType

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
README = (ROOT / "README.md").read_text()


def script() -> ModuleType:
    path = ROOT / "docs" / "readme_outputs.py"
    spec = importlib.util.spec_from_file_location("readme_outputs", path)
    assert spec is not None and spec.loader is not None
    module = importlib.util.module_from_spec(spec)
    sys.modules[spec.name] = module  # the dataclass looks its module up
    spec.loader.exec_module(module)
    return module


OUTPUTS = script()
SHOWN: dict[str, str] = {block.name: block.body for block in OUTPUTS.blocks(README)}


@pytest.fixture(scope="module")
def fresh() -> dict[str, str]:
    """Every block as the code gives it now: one run of the README's examples, in order."""
    pytest.importorskip("pandas")
    pytest.importorskip("matplotlib")
    made: dict[str, str] = OUTPUTS.generated(README)
    return made


def test_the_readme_marks_the_outputs_it_shows() -> None:
    assert list(SHOWN) == ["demo", "unaligned", "within", "search", "match", "occurrences", "discords"]
    assert "Discords(" in SHOWN["discords"]
    assert "$ zorp-miner examples/unaligned.json" in SHOWN["unaligned"]
    assert "$ zorp-miner match shape.csv walks.csv" in SHOWN["match"]


@pytest.mark.parametrize("name", list(SHOWN))
def test_the_block_shows_what_the_code_prints_now(name: str, fresh: dict[str, str]) -> None:
    assert SHOWN[name] == fresh[name], "README.md is stale: python docs/readme_outputs.py --write"


def test_times_are_written_as_a_placeholder() -> None:
    assert OUTPUTS.untimed("52 motifs found in 4269.8 ms; the best 10 shown.") == (
        "52 motifs found in N ms; the best 10 shown."
    )
    assert OUTPUTS.untimed("4 matches in 3 of 3 series in 23 ms; max") == (
        "4 matches in 3 of 3 series in N ms; max"
    )
    assert OUTPUTS.untimed("in 12 msec, 40 ms-long") == "in 12 msec, 40 ms-long"


# A small README: a search whose claim is wrong, then a command on the files the search wrote.
SMALL = """\
# A small README

Text before.

<!-- output: found -->
```python
import numpy as np
import zorp_miner

rng = np.random.default_rng(3)
walks = np.cumsum(rng.normal(size=(2, 400)), axis=1)
shape = np.repeat([0.0, 20.0, -10.0, 10.0], 5)
walks[0, 100:120] += shape
walks[1, 250:270] += shape
found = zorp_miner.find_matches(shape, walks, max_distance=0.3)
found      # Matches(7 windows of 20 points in 2 of 2 series, max_distance=0.3, best 0)
np.savetxt("walks.csv", walks, delimiter=",")
np.savetxt("shape.csv", [shape], delimiter=",")
```
<!-- /output -->

Text between.

<!-- output: command -->
```console
$ zorp-miner match shape.csv walks.csv --max-distance 0.3
an old output
```
<!-- /output -->

Text after.
"""


def small_search() -> str:
    """repr of the small README's search, made here."""
    import numpy as np

    import zorp_miner

    rng = np.random.default_rng(3)
    walks = np.cumsum(rng.normal(size=(2, 400)), axis=1)
    shape = np.repeat([0.0, 20.0, -10.0, 10.0], 5)
    walks[0, 100:120] += shape
    walks[1, 250:270] += shape
    return repr(zorp_miner.find_matches(shape, walks, max_distance=0.3, progress=False))


def test_a_stale_block_is_found_and_rewritten(tmp_path: pathlib.Path) -> None:
    made: dict[str, str] = OUTPUTS.generated(SMALL)
    assert OUTPUTS.stale(SMALL, made) == ["found", "command"]
    claim = f"found      # {small_search()}\n"
    assert claim in made["found"] and "7 windows" not in made["found"]
    assert made["found"].replace(claim, "") == OUTPUTS.blocks(SMALL)[0].body.replace(
        "found      # Matches(7 windows of 20 points in 2 of 2 series, max_distance=0.3, best 0)\n",
        "",
    )
    command = made["command"]
    assert command.startswith(
        "```console\n$ zorp-miner match shape.csv walks.csv --max-distance 0.3\n"
    )
    assert command.endswith(" in N ms; max distance 0.3, none within 19 points of another.\n```\n")
    assert "shape.csv: a query of 20 points\nwalks.csv: 2 series, 800 points\n" in command
    assert "an old output" not in command
    rewritten: str = OUTPUTS.rewritten(SMALL, made)
    assert OUTPUTS.stale(rewritten, made) == []
    for text in ("Text before.", "Text between.", "Text after.", "<!-- /output -->"):
        assert rewritten.count(text) == SMALL.count(text)
    # The whole command: --check fails on the stale file, --write mends it, --check then passes.
    readme = tmp_path / "README.md"
    readme.write_text(SMALL)
    assert OUTPUTS.main(["--check", "--readme", str(readme)]) == 1
    assert readme.read_text() == SMALL
    assert OUTPUTS.main(["--write", "--readme", str(readme)]) == 0
    assert OUTPUTS.main(["--check", "--readme", str(readme)]) == 0
    assert readme.read_text() == rewritten


def test_a_failing_command_or_a_block_named_twice_is_an_error() -> None:
    failing = "<!-- output: bad -->\n```console\n$ zorp-miner missing.csv\n```\n<!-- /output -->\n"
    with pytest.raises(RuntimeError, match="missing.csv exited with 2"):
        OUTPUTS.generated(failing)
    with pytest.raises(ValueError, match="named twice: bad"):
        OUTPUTS.blocks(failing + failing)
    other = "<!-- output: other -->\n```console\n$ ls\n```\n<!-- /output -->\n"
    with pytest.raises(ValueError, match="runs zorp-miner only"):
        OUTPUTS.generated(other)
