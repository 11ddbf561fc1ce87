"""Threads: find_motifs called from several threads at once gives each thread what the same call
gives alone (the native kernels run without the interpreter lock, on their own copies of what
they are given, and share no state between calls), and a run on any number of threads gives
what it gives on one, bit for bit."""

import subprocess
import sys
import threading
from typing import Any

import numpy as np
import pytest
from conftest import assert_same_motifs, planted_walks, random_walks

import zorp_miner


@pytest.mark.parametrize(
    "params",
    [{"length": 96}, {}, {"mode": "exact", "seglen": 8}],
    ids=["robust-length", "robust-no-length", "exact"],
)
def test_concurrent_runs_give_the_sequential_results(params: dict[str, Any]) -> None:
    data = [planted_walks(8, seed) for seed in (3, 4, 5, 6)]
    expected = [zorp_miner.find_motifs(rows, **params) for rows in data]
    got: list[Any] = [None] * len(data)
    barrier = threading.Barrier(len(data))

    def run(k: int) -> None:
        barrier.wait()
        got[k] = zorp_miner.find_motifs(data[k], **params)

    threads = [threading.Thread(target=run, args=(k,)) for k in range(len(data))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for k in range(len(data)):
        assert_same_motifs(got[k], expected[k])



@pytest.fixture
def every_call_threaded(monkeypatch: pytest.MonkeyPatch) -> None:
    """Every kernel call runs on as many threads as the run has, however short its work."""
    from zorp_miner.compute import threads as _threads

    monkeypatch.setattr(_threads, "UNITS_PER_THREAD", 1)
    monkeypatch.setattr(_threads, "PYTHON_UNITS_PER_THREAD", 1)


def with_gaps(rows: list[np.ndarray]) -> list[np.ndarray]:
    """The rows with a few missing points: windows over them never match."""
    out = [row.copy() for row in rows]
    for k, row in enumerate(out[::2]):
        row[37 + 11 * k : 40 + 11 * k] = np.nan
    return out


SETS = {
    "planted": lambda: with_gaps(planted_walks(8, seed=31)),
    "walks": lambda: with_gaps([np.array(w) for w in random_walks(6, 260, seed=32)]),
}


@pytest.mark.parametrize("length", [48, None], ids=["length", "no-length"])
@pytest.mark.parametrize("name", list(SETS))
def test_any_thread_count_gives_the_same_motifs_bit_for_bit(
    every_call_threaded: None, name: str, length: int | None
) -> None:
    data = SETS[name]()
    expected = zorp_miner.find_motifs(data, length=length, threads=1)
    assert len(expected) >= 1
    for threads in (2, 3, 8):
        assert_same_motifs(zorp_miner.find_motifs(data, length=length, threads=threads), expected)


def test_any_thread_count_gives_the_same_matches_and_occurrences(every_call_threaded: None) -> None:
    data = with_gaps(planted_walks(8, seed=33))
    query = np.repeat([6.0, -6.0, 6.0, -6.0], 24)
    motifs = zorp_miner.find_motifs(data, length=96, top=2, threads=1)
    expected = zorp_miner.find_matches(query, data, threads=1)
    occurrences = motifs.occurrences(data, threads=1)
    for threads in (2, 3, 8):
        got = zorp_miner.find_matches(query, data, threads=threads)
        for field in ("series", "starts", "distances"):
            assert getattr(got, field).tobytes() == getattr(expected, field).tobytes()
        again = motifs.occurrences(data, threads=threads)
        for field in ("ranks", "series", "starts", "distances", "max_distances"):
            assert getattr(again, field).tobytes() == getattr(occurrences, field).tobytes()
        one = motifs[0].occurrences(data, threads=threads)
        assert one.starts.tobytes() == occurrences.starts[occurrences.ranks == 1].tobytes()


@pytest.mark.parametrize("bad", [0, -1, 1025, 2.5, True, "2"])
def test_a_thread_count_out_of_range_is_refused_before_any_work(bad: object) -> None:
    data = planted_walks(4, seed=1)
    error = TypeError if isinstance(bad, (float, bool, str)) else ValueError
    for call in (
        lambda: zorp_miner.find_motifs(data, length=96, threads=bad),  # type: ignore[arg-type]
        lambda: zorp_miner.find_matches(data[0][:50], data, threads=bad),  # type: ignore[arg-type]
    ):
        with pytest.raises(error, match="threads"):
            call()


def test_the_commands_take_threads(tmp_path: Any, capsys: pytest.CaptureFixture[str]) -> None:
    from zorp_miner.cli import main

    path = tmp_path / "walks.npy"
    np.save(path, np.stack(planted_walks(6, seed=34, ragged=False)))
    assert main([str(path), "--length", "96", "--format", "json", "--threads", "1"]) == 0
    one = capsys.readouterr().out
    assert main([str(path), "--length", "96", "--format", "json", "--threads", "3"]) == 0
    three = capsys.readouterr().out
    assert one == three
    assert main([str(path), "--threads", "0"]) == 2
    assert "--threads must be 1 to 1024 threads, got 0" in capsys.readouterr().err
    np.savetxt(tmp_path / "query.csv", np.repeat([6.0, -6.0, 6.0, -6.0], 24)[None], delimiter=",")
    assert main(["match", str(tmp_path / "query.csv"), str(path), "--threads", "2"]) == 0
    assert main(["match", str(tmp_path / "query.csv"), str(path), "--threads", "2000"]) == 2


def test_a_helper_no_thread_takes_is_cancelled_not_waited_for(
    monkeypatch: pytest.MonkeyPatch, every_call_threaded: None
) -> None:
    # A pool that never starts a thread: the caller does every item itself and returns.
    from zorp_miner.compute import threads as _threads

    monkeypatch.setattr(_threads, "_pool", _threads._Pool(0))
    with _threads.using(3):
        assert _threads.map_each(lambda k: k * k, range(50), 1e12) == [k * k for k in range(50)]


INTERRUPTED_AS_A_THREAD_STARTS = """
import subprocess
import sys
import threading
from zorp_miner.compute import threads

start = threading.Thread.start

def interrupted(self):
    start(self)
    raise KeyboardInterrupt

threading.Thread.start = interrupted
try:
    with threads.using(2):
        threads.map_each(abs, [-1, -2, -3], 1e12)
except KeyboardInterrupt:
    print("interrupted")
"""


def test_a_ctrl_c_as_a_helper_thread_starts_leaves_nothing_to_wait_for_at_exit() -> None:
    done = subprocess.run(
        [sys.executable, "-c", INTERRUPTED_AS_A_THREAD_STARTS],
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert (done.returncode, done.stdout, done.stderr) == (0, "interrupted\n", "")
