"""The unaligned example: reproducible, its bursts off the segment grid, and found by the demo's
robust run."""

import importlib.util
import json
import pathlib
import subprocess
import sys
from types import ModuleType

import numpy as np

import zorp_miner

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


def generator() -> ModuleType:
    spec = importlib.util.spec_from_file_location(
        "make_unaligned_data", EXAMPLES / "make_unaligned_data.py"
    )
    assert spec is not None and spec.loader is not None
    module = importlib.util.module_from_spec(spec)
    sys.path.insert(0, str(EXAMPLES))
    try:
        spec.loader.exec_module(module)
    finally:
        sys.path.remove(str(EXAMPLES))
    return module


def test_committed_example_is_what_the_generator_writes(tmp_path: pathlib.Path) -> None:
    out = tmp_path / "unaligned.json"
    subprocess.run(
        [sys.executable, str(EXAMPLES / "make_unaligned_data.py"), "--out", str(out)],
        check=True,
        capture_output=True,
    )
    assert out.read_bytes() == (EXAMPLES / "unaligned.json").read_bytes()


def test_bursts_are_planted_where_stated_and_mostly_off_the_grid() -> None:
    data = generator().example_data()
    length = data["shape_points"]
    assert len(data["series"]) == len(data["planted_at"]) == 40
    assert sum(1 for start in data["planted_at"] if start % 8) >= 30
    for values, start in zip(data["series"], data["planted_at"], strict=True):
        array = np.array(values)
        assert 0 <= start <= len(array) - length
        # The burst's high plateaus stand about 6 above its low ones; the noise is 1.
        plateaus = array[start : start + length].reshape(-1, length // 4)
        assert plateaus[0].mean() - plateaus[1].mean() > 4


def test_the_robust_mode_finds_the_bursts_the_exact_mode_misses() -> None:
    data = json.loads((EXAMPLES / "unaligned.json").read_text())
    planted, length = data["planted_at"], data["shape_points"]
    series = zorp_miner.load(EXAMPLES / "unaligned.json")

    def on_burst(motif: zorp_miner.Motif) -> int:
        return sum(
            2 * (min(s + motif.length, planted[i] + length) - max(s, planted[i]))
            >= min(motif.length, length)
            for i, s in zip(motif.series.tolist(), motif.best_matches.tolist(), strict=True)
        )

    for given in (length, None):
        top = zorp_miner.find_motifs(series, length=given, top=1)[0]
        assert on_burst(top) >= 38
        assert abs(top.length - length) <= length // 4
    exact = zorp_miner.find_motifs(series, mode="exact", seglen=8, min_len=6, top=1)[0]
    assert on_burst(exact) < 38
