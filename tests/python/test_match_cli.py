"""``zorp-miner match QUERY DATA``: the search by example on the command line, end to end."""

import csv
import io
import json
import pathlib
import subprocess
import sys

import numpy as np
import pytest

import zorp_miner
from zorp_miner.cli import main

SHAPE = np.repeat([0.0, 20.0, -10.0, 10.0], 15)
PLACES = [(0, 700), (1, 2500), (2, 100), (2, 1900)]


@pytest.fixture
def files(tmp_path: pathlib.Path) -> pathlib.Path:
    """data.csv (three random walks of 3,000 points, the shape added at PLACES, a gap of
    missing points in series 1), query.csv (the shape on a line), column.csv (one value per
    line) and two.csv (two shapes)."""
    series = np.cumsum(np.random.default_rng(0).normal(size=(3, 3000)), axis=1)
    for i, start in PLACES:
        series[i, start : start + 60] += SHAPE
    series[1, 1000:1040] = np.nan
    np.savetxt(tmp_path / "data.csv", series, delimiter=",")
    np.savetxt(tmp_path / "query.csv", SHAPE[None], delimiter=",")
    np.savetxt(tmp_path / "column.csv", SHAPE, delimiter=",")
    np.savetxt(tmp_path / "two.csv", np.stack([SHAPE[::-1], SHAPE]), delimiter=",")
    return tmp_path


def run(cwd: pathlib.Path, *args: object) -> subprocess.CompletedProcess[str]:
    return subprocess.run(
        [sys.executable, "-m", "zorp_miner", *map(str, args)],
        capture_output=True,
        text=True,
        cwd=cwd,
    )


def test_the_table_lists_the_matches_closest_first(
    files: pathlib.Path, capsys: pytest.CaptureFixture[str], monkeypatch: pytest.MonkeyPatch
) -> None:
    monkeypatch.chdir(files)
    assert main(["match", "query.csv", "data.csv"]) == 0
    out, err = capsys.readouterr()
    assert err == ""
    lines = out.splitlines()
    assert lines[:2] == ["query.csv: a query of 60 points", "data.csv: 3 series, 9000 points"]
    assert lines[3].split() == ["rank", "series", "start", "distance"]
    rows = [line.split() for line in lines[5:9]]
    assert sorted((int(row[1]), int(row[2])) for row in rows) == PLACES
    assert [float(row[3]) for row in rows] == sorted(float(row[3]) for row in rows)
    assert lines[-1].startswith("4 matches in 3 of 3 series in ")
    assert lines[-1].endswith("(chance's, the default), none within 59 points of another.")


@pytest.mark.parametrize("query", ["query.csv", "column.csv", "two.csv --query-series 1"])
def test_json_and_csv_are_what_find_matches_returns(
    files: pathlib.Path, capsys: pytest.CaptureFixture[str], monkeypatch: pytest.MonkeyPatch,
    query: str,
) -> None:
    monkeypatch.chdir(files)
    options = ["--exclusion", "15", "--max-distance", "0.9", "--top", "6"]
    expected = zorp_miner.find_matches(
        SHAPE, zorp_miner.load("data.csv"), max_distance=0.9, exclusion=15, top=6
    )
    assert main(["match", *query.split(), "data.csv", *options, "--format", "json"]) == 0
    record = json.loads(capsys.readouterr().out)
    assert record == {
        "query_file": query.split()[0],
        "file": "data.csv",
        **json.loads(json.dumps(expected.to_dict())),
    }
    assert main(["match", *query.split(), "data.csv", *options, "--format", "csv"]) == 0
    rows = list(csv.reader(io.StringIO(capsys.readouterr().out)))
    assert rows[0] == ["rank", "series", "start", "distance"]
    assert [(int(s), int(start), float(d)) for _, s, start, d in rows[1:]] == list(
        zip(expected.series.tolist(), expected.starts.tolist(), expected.distances.tolist())
    )


def test_no_match_says_how_close_the_closest_window_is(
    files: pathlib.Path, capsys: pytest.CaptureFixture[str], monkeypatch: pytest.MonkeyPatch
) -> None:
    monkeypatch.chdir(files)
    assert main(["match", "query.csv", "data.csv", "--max-distance", "0.05"]) == 0
    last = capsys.readouterr().out.splitlines()[-1]
    assert last.startswith("0 matches in ")
    assert ": none within max distance 0.05; the closest window is at 0.17" in last


@pytest.mark.parametrize(
    ("args", "message"),
    [
        (["match"], "the following arguments are required: QUERY, DATA (see zorp-miner match"),
        (["match", "two.csv", "data.csv"], "two.csv holds 2 series; QUERY is one shape: choose"),
        (["match", "two.csv", "data.csv", "--query-series", "2"], "two.csv holds 2 series (0"),
        (["match", "nan.csv", "data.csv"], "nan.csv: query, point 2: nan is not a finite number"),
        (["match", "data.csv", "short.csv", "--query-series", "0"], "query has 3000 points, more"),
        (["match", "query.csv", "data.csv", "--max-distance", "-1"], "--max-distance must be 0"),
        (["match", "query.csv", "data.csv", "--exclusion", "-1"], "--exclusion must be 0 or more"),
        (["match", "query.csv", "data.csv", "--top", "-1"], "--top must be 0 (all) or a"),
        (["match", "query.csv", "nothere.csv"], "nothere.csv: no such file"),
        (["match", "query.csv", "data.csv", "--plot", "no/such/out.png"], "--plot: the folder"),
    ],
)
def test_errors_are_one_line_with_status_2(
    files: pathlib.Path, args: list[str], message: str
) -> None:
    (files / "nan.csv").write_text("1,2,,4,5\n")
    (files / "short.csv").write_text("1,2,3,4\n")
    done = run(files, *args)
    assert done.returncode == 2 and done.stdout == ""
    assert done.stderr.startswith("zorp-miner: error: ") and message in done.stderr
    assert done.stderr.count("\n") == 1 and "Traceback" not in done.stderr


def test_the_motif_command_still_reads_its_files_and_names_the_search(files: pathlib.Path) -> None:
    assert "zorp-miner match QUERY DATA finds where one given shape occurs" in " ".join(
        run(files, "--help").stdout.split()
    )
    done = run(files, "data.csv", "--length", "60", "--top", "1", "--format", "csv")
    assert done.returncode == 0 and done.stdout.startswith("rank,series,start,length,distance\n")
    (files / "match").write_text((files / "data.csv").read_text())
    done = run(files, "./match", "--input-format", "csv", "--length", "60", "--format", "csv")
    assert done.returncode == 0 and done.stdout.startswith("rank,series,start,length,distance\n")


def test_plot_writes_a_png(
    files: pathlib.Path, capsys: pytest.CaptureFixture[str], monkeypatch: pytest.MonkeyPatch
) -> None:
    monkeypatch.chdir(files)
    assert main(["match", "query.csv", "data.csv", "--plot", "out.png", "--format", "csv"]) == 0
    assert capsys.readouterr().err == "zorp-miner: wrote out.png\n"
    assert (files / "out.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


@pytest.mark.parametrize("quiet", [False, True])
def test_progress_is_drawn_on_a_terminal_unless_quiet(
    files: pathlib.Path, monkeypatch: pytest.MonkeyPatch, quiet: bool
) -> None:
    import zorp_miner.progress
    from test_cli import Terminal

    terminal = Terminal()
    monkeypatch.chdir(files)
    monkeypatch.setattr(sys, "stderr", terminal)
    monkeypatch.setattr(sys, "stdout", io.StringIO())
    monkeypatch.setattr(zorp_miner.progress.Bar, "DELAY", 0.0)
    assert main(["match", "query.csv", "data.csv", *(["--quiet"] if quiet else [])]) == 0
    drawn = terminal.getvalue()
    assert drawn == "" if quiet else "matching the query of 60 points" in drawn
