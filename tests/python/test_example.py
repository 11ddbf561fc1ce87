"""The bundled example: reproducible, and its planted shape is what the demo finds."""

import json
import pathlib
import subprocess
import sys

import _zorp_cpp

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


def test_committed_example_is_what_the_generator_writes(tmp_path: pathlib.Path) -> None:
    out = tmp_path / "planted.json"
    subprocess.run(
        [sys.executable, str(EXAMPLES / "make_example_data.py"), "--out", str(out)],
        check=True,
        capture_output=True,
    )
    assert out.read_bytes() == (EXAMPLES / "planted.json").read_bytes()


def test_top_motif_sits_on_the_planted_shape() -> None:
    data = json.loads((EXAMPLES / "planted.json").read_text())
    series, planted_at = data["series"], data["planted_at"]
    best = _zorp_cpp.Miner(0.5, 8, 7, min_len=6, k=3).mine(series)
    top = best[0]
    on_shape = [s for s, start in top.best_matches.items() if abs(start - planted_at[s]) <= 8]
    assert len(top.indexes) >= 0.9 * len(series)
    assert len(on_shape) >= 0.9 * len(series)
    assert top.length <= data["shape_points"]


def test_demo_prints_the_ranked_table_and_the_check() -> None:
    run = subprocess.run(
        [sys.executable, str(EXAMPLES / "demo.py")], check=True, capture_output=True, text=True
    )
    lines = run.stdout.splitlines()
    assert any(line.split()[:1] == ["1"] for line in lines)
    assert "matches it in 40 of 40 series" in run.stdout
