"""The zorp-miner command: outputs, exit statuses and one-line errors."""

import csv
import io
import json
import os
import pathlib
import signal
import subprocess
import sys
from typing import Any

import numpy as np
import pytest

import zorp_miner
import zorp_miner.api
from zorp_miner._interface import COMMAND_LINE
from zorp_miner.cli import main
from zorp_miner.cli.motifs import parser

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


def test_json_is_the_full_result_and_csv_every_occurrence(
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
    rows = list(csv.reader(io.StringIO(capsys.readouterr().out)))
    # The exact mode's occurrences are its patterns', without a distance of their own.
    assert rows == [["rank", "series", "start", "length", "distance"]] + [
        [str(m["rank"]), str(s), str(start), str(m["length"]), ""]
        for m in expected["motifs"][:2]
        for s, start in zip(m["occurrences"]["series"], m["occurrences"]["starts"], strict=True)
    ]


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
            "zorp-miner: error: --seglen is a parameter of the exact mode: pass --mode exact",
        ),
        (
            [EXAMPLE, "--mode", "exact", "--seglen", "8", "--length", "96"],
            2,
            "zorp-miner: error: --length is a parameter of the robust mode",
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
    # The table's heading comes before the run: a refused run has printed it.
    assert done.stdout == "" if status == 2 else done.stdout.endswith("max_overlap 0.9\n\n")
    assert done.stderr.startswith(message.format(tmp=tmp_path))
    assert done.stderr.count("\n") == 1 and "Traceback" not in done.stderr


@pytest.mark.parametrize(
    "kwargs, args",
    [
        ({"seglen": 8}, ["--seglen", "8"]),
        ({"alphabet": 5, "max_len": 9}, ["--alphabet", "5", "--max-len", "9"]),
        ({"mode": "exact", "seglen": 8, "length": 96}, ["--mode", "exact", "--seglen", "8", "--length", "96"]),
        ({"mode": "exact", "seglen": 8, "keep": "likely"}, ["--mode", "exact", "--seglen", "8", "--keep", "likely"]),
        ({"mode": "exact"}, ["--mode", "exact"]),
    ],
)
def test_a_parameter_of_the_other_mode_is_refused_alike_from_python_and_the_command_line(
    capsys: pytest.CaptureFixture[str], kwargs: dict[str, Any], args: list[str]
) -> None:
    # One rule words both refusals; each interface spells the options its own way.
    token = COMMAND_LINE.set(True)
    try:
        with pytest.raises(ValueError) as spelled_as_flags:
            zorp_miner.find_motifs([[1.0] * 50] * 2, **kwargs)
    finally:
        COMMAND_LINE.reset(token)
    with pytest.raises(ValueError) as raised:
        zorp_miner.find_motifs([[1.0] * 50] * 2, **kwargs)
    assert main([str(EXAMPLE), *args]) == 2
    expected = f"zorp-miner: error: {spelled_as_flags.value} (see zorp-miner --help)\n"
    assert capsys.readouterr().err == expected
    assert "--" in str(spelled_as_flags.value) and "--" not in str(raised.value)


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


def test_a_robust_run_without_motifs_says_why_in_place_of_the_table(
    capsys: pytest.CaptureFixture[str],
) -> None:
    unaligned = EXAMPLE.with_name("unaligned.json")
    assert main([str(unaligned), "--length", "5000"]) == 0
    out = capsys.readouterr().out
    assert "pattern" not in out and "naed" not in out and "rank" not in out
    assert out.splitlines()[-1].startswith("0 motifs found in ")
    assert out.splitlines()[-1].endswith(
        "length 5000 is above the length of every series (the longest has 1337 points): "
        "a motif is a shape inside the series (a length equal to theirs takes each whole); "
        "give a shorter --length"
    )
    assert main([str(unaligned), "--length", "96", "--format", "json", "--top", "1"]) == 0
    assert json.loads(capsys.readouterr().out)["reason"] is None


def test_the_table_says_it_shows_five_matches_of_each_motif(
    capsys: pytest.CaptureFixture[str],
) -> None:
    assert main([*PLANTED, "--top", "1"]) == 0
    lines = capsys.readouterr().out.splitlines()
    assert lines[5].endswith("(+35 more)")
    assert (
        "The table shows 5 best matches per motif; --format csv or --format json lists them all."
        in lines
    )
    few = EXAMPLE.with_name("few.json")
    assert "shows 5" not in table_of_few(few, capsys)


def table_of_few(path: pathlib.Path, capsys: pytest.CaptureFixture[str]) -> str:
    data = json.loads(EXAMPLE.read_text())["series"][:4]
    try:
        path.write_text(json.dumps(data))
        assert main([str(path), "--mode", "exact", "--seglen", "8", "--min-len", "6"]) == 0
    finally:
        path.unlink()
    return capsys.readouterr().out


def test_the_heading_is_printed_before_the_run(
    monkeypatch: pytest.MonkeyPatch, capsys: pytest.CaptureFixture[str]
) -> None:
    import zorp_miner.cli.motifs

    seen: list[str] = []

    def run_seeing_stdout(*args: Any, **kwargs: Any) -> Any:
        seen.append(capsys.readouterr().out)
        return zorp_miner.api.motifs_here(*args, **kwargs)

    monkeypatch.setattr(zorp_miner.cli.motifs, "motifs_here", run_seeing_stdout)
    assert main([*PLANTED, "--top", "1"]) == 0
    assert seen == [
        f"{EXAMPLE}: 40 series, 39629 points\nmode exact, seglen 8, alphabet 7, minsup 0.5, "
        "min_len 6, max_len none, max_overlap 0.9\n\n"
    ]
    assert capsys.readouterr().out.splitlines()[0].split()[:2] == ["rank", "pattern"]


class Terminal(io.StringIO):
    """A stderr that says it is a terminal."""

    def isatty(self) -> bool:
        return True


@pytest.mark.parametrize("quiet", [False, True])
def test_progress_is_drawn_on_a_terminal_unless_quiet(
    monkeypatch: pytest.MonkeyPatch, quiet: bool
) -> None:
    import zorp_miner.progress

    terminal = Terminal()
    monkeypatch.setattr(sys, "stderr", terminal)
    monkeypatch.setattr(sys, "stdout", io.StringIO())
    monkeypatch.setattr(zorp_miner.progress.Bar, "DELAY", 0.0)
    unaligned = EXAMPLE.with_name("unaligned.json")
    assert main([str(unaligned), "--length", "96", *(["--quiet"] if quiet else [])]) == 0
    drawn = terminal.getvalue()
    if quiet:
        assert drawn == ""
        return
    # While the file is read the run's steps are not known: the step, without a total; then
    # the whole count, which never shrinks, and every step's words whole.
    assert "zorp-miner: step 1 reading " in drawn
    assert "/4 length 96: searching the shuffled series  " in drawn
    # Erased at the end: the last thing written is a blank line in place.
    assert drawn.endswith("\r") and drawn.rsplit("\r", 2)[-2].strip() == ""
    assert "\n" not in drawn


@pytest.mark.parametrize(
    "write_file, args, status, message",
    [
        (
            lambda d: (d / "cell.csv").write_text('1,"' + "3" * 200_000 + '"\n'),
            ["cell.csv"],
            2,
            "zorp-miner: error: {tmp}/cell.csv line 1: cannot be split into cells",
        ),
        (
            lambda d: (d / "deep.json").write_text("[" * 100_000 + "]" * 100_000),
            ["deep.json"],
            2,
            "zorp-miner: error: {tmp}/deep.json: lists nested too deeply to be series",
        ),
        (
            lambda d: os.truncate(holes(d / "holes.txt"), 2 << 30),
            ["holes.txt"],
            2,
            "zorp-miner: error: {tmp}/holes.txt line 1: holds NUL bytes",
        ),
        (
            lambda d: np.savez(d / "many.npz", *[np.zeros((1, 3)) + i for i in range(500)]),
            ["many.npz", "--columns"],
            2,
            "zorp-miner: error: {tmp}/many.npz: holds several arrays (arr_0, arr_1, arr_2, arr_3, "
            "arr_4 and 495 "
            "more, 500 in all); choose one with --key name",
        ),
        (
            lambda d: (d / "names.csv").write_text("a;b;c\n1;2;3\n"),
            ["names.csv"],
            2,
            "zorp-miner: error: {tmp}/names.csv line 1, column 1: 'a' is not a number (if the "
            "first line holds names, skip it with --header)",
        ),
        (
            lambda d: (d / "gap.csv").write_text("1,2,,4,5,6,7,8,9\n1,2,3,4,5,6,7,8,9\n"),
            ["gap.csv", "--mode", "exact", "--seglen", "2"],
            2,
            "zorp-miner: error: series 0, point 2: nan is not a finite number",
        ),
        (
            lambda d: np.save(d / "walks.npy", np.cumsum(np.ones((1, 3000)), axis=1)),
            ["walks.npy", "--mode", "exact", "--seglen", "1", "--minsup", "1"],
            1,
            "zorp-miner: run refused: minsup 1 x 1 series is at most 1",
        ),
    ],
    ids=["long cell", "deep json", "sparse file", "npz of 500", "names", "exact gap", "hopeless"],
)
def test_hostile_input_is_one_line_and_never_a_traceback(
    tmp_path: pathlib.Path,
    write_file: Any,
    args: list[str],
    status: int,
    message: str,
) -> None:
    write_file(tmp_path)
    done = run(*[str(tmp_path / args[0]), *args[1:]])
    assert done.returncode == status
    assert done.stderr.startswith(message.format(tmp=tmp_path))
    assert done.stderr.count("\n") == 1 and "Traceback" not in done.stderr
    if status == 1:
        assert "--max-len" in done.stderr and "max_len" not in done.stderr


def holes(path: pathlib.Path) -> pathlib.Path:
    """An empty file at path, to be made a sparse one (its holes read as NUL bytes)."""
    path.write_bytes(b"")
    return path


def test_ctrl_c_stops_the_run_with_one_line_and_status_130(tmp_path: pathlib.Path) -> None:
    data = np.cumsum(np.random.default_rng(0).normal(size=(400, 4000)), axis=1)
    np.save(tmp_path / "walks.npy", data)
    child = subprocess.Popen(
        [sys.executable, "-m", "zorp_miner", str(tmp_path / "walks.npy")],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        # Started from a shell that ignores SIGINT (a background job), Python would too.
        preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL),
    )
    assert child.stdout is not None
    # The heading comes before the run: once it is there, the run is under way.
    assert child.stdout.readline() == f"{tmp_path / 'walks.npy'}: 400 series, 1600000 points\n"
    child.send_signal(signal.SIGINT)
    _, err = child.communicate(timeout=120)
    assert child.returncode == 130
    assert err == "zorp-miner: interrupted\n"


def test_separator_and_index_options(
    tmp_path: pathlib.Path, capsys: pytest.CaptureFixture[str]
) -> None:
    rows = np.random.default_rng(1).normal(size=(6, 40)).round(3)
    text = "\n".join(f"r{i}|" + "|".join(map(str, row)) for i, row in enumerate(rows))
    (tmp_path / "bars.txt").write_text(text.replace("|", " "))
    assert main([str(tmp_path / "bars.txt"), "--length", "8", "--index-col", "--sep", "space"]) == 0
    assert capsys.readouterr().out.startswith(f"{tmp_path / 'bars.txt'}: 6 series, 240 points")
    assert main([str(tmp_path / "bars.txt"), "--sep", "|"]) == 2
    assert "--sep must be one of , ; tab space, got '|'" in capsys.readouterr().err


def test_the_demo_says_how_to_reach_the_package_from_a_python_without_it() -> None:
    # -S leaves out site-packages: a Python without the package, as the system's.
    demo = EXAMPLE.with_name("demo.py")
    done = subprocess.run([sys.executable, "-S", str(demo)], capture_output=True, text=True)
    assert done.returncode == 1 and done.stdout == ""
    assert "run .venv/bin/python examples/demo.py, or source .venv/bin/activate" in done.stderr
    assert "Traceback" not in done.stderr


def test_an_unreachable_scheduler_fails_in_one_line_within_the_time_out(
    monkeypatch: pytest.MonkeyPatch, capsys: pytest.CaptureFixture[str]
) -> None:
    pytest.importorskip("distributed")
    from zorp_miner.cluster import dask as _dask

    monkeypatch.setattr(_dask, "CONNECT_TIMEOUT", 1)
    assert main([*PLANTED, "--scheduler", "tcp://127.0.0.1:1"]) == 1
    err = capsys.readouterr().err
    assert err.startswith(
        "zorp-miner: run failed: no Dask scheduler answered at tcp://127.0.0.1:1 within 1 s"
    )
    assert err.count("\n") == 1
    with pytest.raises(zorp_miner.ClusterError, match="no Dask scheduler answered at tcp://127.0.0.1:1"):
        zorp_miner.find_motifs([[1.0, 2.0, 3.0]], client="tcp://127.0.0.1:1", length=4)
