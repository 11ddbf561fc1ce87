"""The zorp-miner command: outputs, exit statuses and one-line errors."""

import csv
import io
import json
import os
import pathlib
import subprocess
import sys
from typing import Any

import pytest

import zorp_miner
from zorp_miner.cli import main, parser

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "planted.json"
PLANTED = [str(EXAMPLE), "--mode", "exact", "--seglen", "8", "--min-len", "6"]


def run(*args: object) -> subprocess.CompletedProcess[str]:
    return subprocess.run(
        [sys.executable, "-m", "zorp_miner", *map(str, args)], capture_output=True, text=True
    )


def test_table_is_the_ranked_summary(capsys: pytest.CaptureFixture[str]) -> None:
    assert main([*PLANTED, "--top", "3"]) == 0
    out, err = capsys.readouterr()
    assert err == ""
    lines = out.splitlines()
    assert lines[0] == f"{EXAMPLE}: 40 series, 39629 points"
    assert lines[1].startswith("mode exact, seglen 8, alphabet 7, minsup 0.5, min_len 6")
    assert lines[3].split() == [
        "rank",
        "pattern",
        "support",
        "naed",
        "best",
        "match",
        "per",
        "series",
        "(series:start)",
    ]
    assert lines[5].split()[:3] == ["1", "gggaaagggaaa", "40/40"]
    assert lines[-1].startswith("5 motifs found in ") and lines[-1].endswith("the best 3 shown.")


def test_json_is_the_full_result_and_csv_one_row_per_motif(
    capsys: pytest.CaptureFixture[str]
) -> None:
    # Held as Any: the test reaches into the motifs it knows the result holds.
    found = zorp_miner.find_motifs(zorp_miner.load(EXAMPLE), mode="exact", seglen=8, min_len=6)
    expected: dict[str, Any] = found.to_dict()
    assert main([*PLANTED, "--top", "0", "--format", "json"]) == 0
    out = capsys.readouterr().out
    assert json.loads(out) == {"file": str(EXAMPLE), **expected}
    # Written a motif at a time, the same text as the whole dict dumped at once.
    assert out == json.dumps({"file": str(EXAMPLE), **expected}) + "\n"
    assert main([*PLANTED, "--top", "2", "--format", "csv"]) == 0
    rows = list(csv.DictReader(io.StringIO(capsys.readouterr().out)))
    assert [row["pattern"] for row in rows] == [m["pattern"] for m in expected["motifs"][:2]]
    first = expected["motifs"][0]
    assert rows[0]["best_matches"].split() == [str(b) for b in first["best_matches"]]
    assert float(rows[0]["naed"]) == first["naed"]


def test_plot_writes_one_png(tmp_path: pathlib.Path, capsys: pytest.CaptureFixture[str]) -> None:
    pytest.importorskip("matplotlib")
    out = tmp_path / "motifs.png"
    assert main([*PLANTED, "--plot", str(out), "--plot-motifs", "2"]) == 0
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert capsys.readouterr().err == f"zorp-miner: wrote {out}\n"
    nothing = tmp_path / "nothing.png"
    assert main([*PLANTED, "--minsup", "1", "--min-len", "30", "--plot", str(nothing)]) == 0
    assert "0 motifs found" in capsys.readouterr().out
    assert nothing.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


@pytest.mark.parametrize(
    "args, status, message",
    [
        (
            [EXAMPLE, "--mode", "exact"],
            2,
            "zorp-miner: error: --mode exact needs --seglen, the points per letter",
        ),
        (
            [EXAMPLE, "--seglen", "8"],
            2,
            "zorp-miner: error: --seglen is an option of the exact mode: add --mode exact",
        ),
        (
            [EXAMPLE, "--mode", "exact", "--seglen", "8", "--length", "96"],
            2,
            "zorp-miner: error: --length is an option of the robust mode",
        ),
        (
            [EXAMPLE, "--length", "3"],
            2,
            "zorp-miner: error: length must be a whole number of points, at least 4, got 3",
        ),
        ([EXAMPLE, "--mode", "fuzzy"], 2, "zorp-miner: error: argument --mode: invalid choice"),
        ([EXAMPLE, "--seglen", "x"], 2, "zorp-miner: error: argument --seglen: invalid int value"),
        (
            [EXAMPLE, "--mode", "exact", "--seglen", "8", "--alphabet", "11"],
            2,
            "zorp-miner: error: alphabet must be a whole number of letters, from 2 to 10, got 11",
        ),
        ([EXAMPLE, "--top", "-1"], 2, "zorp-miner: error: --top must be 0"),
        (
            [EXAMPLE, "--mode", "exact", "--seglen", "8", "--format", "xml"],
            2,
            "zorp-miner: error: argument --format: invalid choice",
        ),
        (
            ["{tmp}/missing.csv"],
            2,
            "zorp-miner: error: {tmp}/missing.csv: no such file",
        ),
        (
            ["{tmp}/bad.csv"],
            2,
            "zorp-miner: error: {tmp}/bad.csv line 2, column 3: 'n/a' is not a number",
        ),
        (
            [EXAMPLE, "--plot", "{tmp}/no/such/dir/out.png"],
            2,
            "zorp-miner: error: --plot: the folder {tmp}/no/such/dir does not exist",
        ),
        # Each one-point series normalises to NaN, the letter a: the one-letter pattern's
        # statistics over 2**31 - 1 points would need far more than the machine has.
        (
            ["{tmp}/short.csv", "--mode", "exact", "--seglen", str(2**31 - 1), "--min-len", "1"],
            1,
            "zorp-miner: run refused: the statistics of the motifs found (1) would need",
        ),
    ],
)
def test_errors_are_one_line_with_the_documented_status(
    tmp_path: pathlib.Path, args: list[object], status: int, message: str
) -> None:
    if status == 1 and os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE") > 100 * 2**30:
        pytest.skip("this machine could hold the statistics the run is meant to be refused")
    (tmp_path / "bad.csv").write_text("1,2,3\n4,5,n/a\n")
    (tmp_path / "short.csv").write_text("1\n2\n3\n")
    done = run(*[str(arg).format(tmp=tmp_path) for arg in args])
    assert done.returncode == status
    assert done.stdout == ""
    assert done.stderr.startswith(message.format(tmp=tmp_path))
    assert done.stderr.count("\n") == 1 and "Traceback" not in done.stderr


def test_help_explains_every_option_with_its_default() -> None:
    done = run("--help")
    assert done.returncode == 0 and done.stderr == ""
    text = " ".join(done.stdout.split())
    for action in parser()._actions:
        option = next((o for o in action.option_strings if o.startswith("--")), None)
        if option in (None, "--help", "--version"):
            continue
        assert option in text
        assert action.help is not None
        assert "default:" in action.help or action.required, option
    assert (
        "exit status: 0 on success, 2 for a usage or input error, 1 when the run is refused" in text
    )


def test_the_console_script_is_installed() -> None:
    script = pathlib.Path(sys.executable).with_name("zorp-miner")
    if not script.exists():
        pytest.skip("zorp-miner is not installed beside this interpreter")
    done = subprocess.run([script, "--version"], capture_output=True, text=True)
    assert done.returncode == 0
    assert done.stdout.strip() == f"zorp-miner {zorp_miner.__version__}"
