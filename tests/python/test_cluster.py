"""Runs on a Dask cluster (a LocalCluster of two worker processes, started here) give the
answers of the run in this process, bit for bit; test_cluster_faults.py kills workers mid-run."""

import copy
import gc
import json
import pathlib
import pickle
import subprocess
import sys
import time
from collections.abc import Iterator
from typing import Any

import numpy as np
import pytest

import _zorp_cpp
import zorp_miner
from conftest import assert_same_motifs, planted_walks
from zorp_miner.cli import main
from zorp_miner._types import FloatArray
from zorp_miner.io.inputs import as_series_set

dask = pytest.importorskip("dask")
dask_array = pytest.importorskip("dask.array")
distributed = pytest.importorskip("distributed")

from clusters import BOUNDS, EXACT, delayed_parts, local_client, planted_set, walks_set  # noqa: E402
from zorp_miner.cluster.dask import ClusterError  # noqa: E402


@pytest.fixture(scope="module")
def client() -> Iterator[Any]:
    with local_client() as client:
        yield client


@pytest.fixture(scope="module")
def planted() -> list[FloatArray]:
    return planted_set()


@pytest.fixture(scope="module")
def walks() -> list[FloatArray]:
    return walks_set()


@pytest.mark.parametrize("top", [None, 4])
def test_exact_mode_on_the_cluster_is_the_native_miner_bit_for_bit(
    client: Any, walks: list[FloatArray], top: int | None
) -> None:
    got = zorp_miner.find_motifs(delayed_parts(walks), client=client, top=top, **EXACT)
    assert_same_motifs(got, zorp_miner.find_motifs(walks, top=top, **EXACT))
    natives = _zorp_cpp.Miner(0.5, 8, 5, k=top or 0).mine([w.tolist() for w in walks])
    assert len(got) == len(natives) > 3
    for motif, native in zip(got, natives, strict=True):
        series = sorted(native.indexes)
        assert (motif.pattern, motif.naed, motif.length) == (native.pattern, native.naed, native.length)
        assert motif.series.tolist() == series
        assert motif.best_matches.tolist() == [native.best_matches[s] for s in series]
        assert motif.representative.tobytes() == np.array(native.representative).tobytes()
        rows = np.array([native.average_occurrences[s] for s in series])
        assert motif.average_occurrences.tobytes() == rows.tobytes()


# What a motif holds while its average occurrences are still on the cluster.
LATER = "_later_averages"


def on_cluster(motif: zorp_miner.Motif) -> bool:
    """Whether the motif's average occurrences are on the cluster only, none of them here."""
    return LATER in vars(motif) and "average_occurrences" not in vars(motif)


def test_exact_averages_stay_on_the_cluster_until_read(
    client: Any, walks: list[FloatArray]
) -> None:
    expected = zorp_miner.find_motifs(walks, **EXACT)
    got = zorp_miner.find_motifs(delayed_parts(walks), client=client, **EXACT)
    assert not any(on_cluster(m) for m in expected)  # a run here holds plain arrays
    assert len(got) > 3 and all(on_cluster(m) for m in got)
    # Writing out, pickling and copying fetch the values for themselves; got keeps none.
    assert json.dumps(got.to_dict()) == json.dumps(expected.to_dict())
    assert_same_motifs(pickle.loads(pickle.dumps(got)), expected)
    assert_same_motifs(copy.deepcopy(got), expected)
    single = copy.copy(got[2])
    assert not on_cluster(single)
    assert single.average_occurrences.tobytes() == expected[2].average_occurrences.tobytes()
    assert all(on_cluster(m) for m in got)
    # Reading fetches once, and keeps them: read-only, the same array at every read.
    rows = got[1].average_occurrences
    assert rows is got[1].average_occurrences and not rows.flags.writeable
    assert not on_cluster(got[1]) and on_cluster(got[0])
    assert_same_motifs(got, expected)
    assert not any(on_cluster(m) for m in got)
    eager = zorp_miner.find_motifs(delayed_parts(walks), client=client, top=2, lazy=False, **EXACT)
    assert not any(on_cluster(m) for m in eager)
    assert_same_motifs(eager, zorp_miner.find_motifs(walks, top=2, **EXACT))


def in_memory(keys: list[str], dask_scheduler: Any) -> list[str]:
    """The keys whose values the cluster holds (run on the scheduler)."""
    return [k for k in keys if k in dask_scheduler.tasks and dask_scheduler.tasks[k].state == "memory"]


@pytest.mark.parametrize("how", ["read", "dropped"])
def test_the_cluster_drops_the_averages_once_read_or_dropped(
    client: Any, walks: list[FloatArray], how: str
) -> None:
    got = zorp_miner.find_motifs(delayed_parts(walks), client=client, top=2, **EXACT)
    futures = {future.key: future for motif in got for future, _ in vars(motif)[LATER].held}
    keys = sorted(futures)
    assert len(keys) == len(BOUNDS) - 1  # one per part, for both motifs
    distributed.wait(list(futures.values()))
    del futures
    assert client.run_on_scheduler(in_memory, keys) == keys
    if how == "read":
        second = sorted(future.key for future, _ in vars(got[1])[LATER].held)
        assert got[0].average_occurrences.shape == (got[0].support, got[0].length)
        # The parts the second motif occurs in keep their values for it; a part only the first
        # one occurs in drops them once the first is read (the release reaches the scheduler a
        # moment later).
        deadline = time.monotonic() + 30
        while client.run_on_scheduler(in_memory, keys) != second and time.monotonic() < deadline:
            time.sleep(0.05)
        assert client.run_on_scheduler(in_memory, keys) == second
        time.sleep(0.2)
        assert client.run_on_scheduler(in_memory, keys) == second
        assert got[1].average_occurrences.shape == (got[1].support, got[1].length)
    else:
        del got
        gc.collect()
    deadline = time.monotonic() + 30
    while client.run_on_scheduler(in_memory, keys) and time.monotonic() < deadline:
        time.sleep(0.05)
    assert client.run_on_scheduler(in_memory, keys) == []


@pytest.mark.parametrize("how", ["closed", "lost"])
def test_averages_the_cluster_no_longer_holds_raise_a_cluster_error(
    client: Any, walks: list[FloatArray], how: str
) -> None:
    expected = zorp_miner.find_motifs(walks, top=2, **EXACT)
    other = distributed.Client(client.cluster)  # a client of this test's own, to close
    try:
        got = zorp_miner.find_motifs(delayed_parts(walks), client=other, top=2, **EXACT)
        if how == "closed":
            other.close()
            why = "they were left on the Dask cluster, and the client of the run is closed"
        else:
            other.cancel([future for future, _ in vars(got[0])[LATER].held])
            why = "they were left on the Dask cluster, which lost them"
        message = (
            rf"cannot read the average occurrences of motif 1 \('{expected[0].pattern}'\): {why}"
            r".*\. Read average_occurrences \(or copy or pickle the result\) before closing the "
            r"client, or run with lazy=False to fetch them with the result"
        )
        for read in (lambda: got[0].average_occurrences, got.to_dict, lambda: pickle.dumps(got)):
            with pytest.raises(zorp_miner.ClusterError, match=message):
                read()
        assert got[0].distances.tobytes() == expected[0].distances.tobytes()
    finally:
        other.close()
    assert zorp_miner.ClusterError is ClusterError


# Workers keep what they prepared from their parts by default; with a share of 0 they prepare
# every part anew at every step.
@pytest.mark.parametrize(("length", "keep"), [(96, None), (None, None), (96, 0.0)])
def test_robust_mode_on_the_cluster_is_the_run_here(
    client: Any, planted: list[FloatArray], length: int | None, keep: float | None
) -> None:
    settings = {} if keep is None else {"zorp-miner.worker-keep": keep}
    with dask.config.set(settings):
        got = zorp_miner.find_motifs(delayed_parts(planted), client=client, length=length)
    expected = zorp_miner.find_motifs(planted, length=length)
    assert len(expected) >= 1 and expected[0].support >= 25
    assert_same_motifs(got, expected)


@pytest.mark.parametrize("mode", ["robust", "exact"])
def test_dask_arrays_files_and_series_here_are_parts_too(
    client: Any, walks: list[FloatArray], tmp_path: pathlib.Path, mode: str
) -> None:
    options: dict[str, Any] = {"length": 96} if mode == "robust" else EXACT
    if mode == "robust":
        square = np.stack(planted_walks(30, seed=6, ragged=False))
    else:
        square = np.stack([w[:200] for w in walks])
    expected = zorp_miner.find_motifs(square, **options)
    assert len(expected) >= 1
    half = square.shape[1] // 2 + 7
    chunks = (tuple(np.diff(BOUNDS)), (half, square.shape[1] - half))  # each row cut in two too
    array = dask_array.from_array(square, chunks=chunks)
    assert_same_motifs(zorp_miner.find_motifs(array, client=client, **options), expected)
    paths = []
    for i, (a, b) in enumerate(zip(BOUNDS, BOUNDS[1:])):
        paths.append(tmp_path / f"part{i}.npy")
        np.save(paths[-1], square[a:b])
    assert_same_motifs(zorp_miner.find_motifs(paths, client=client, **options), expected)
    assert_same_motifs(zorp_miner.find_motifs(square, client=client, **options), expected)
    # Without a client the same inputs are read here.
    assert_same_motifs(zorp_miner.find_motifs(paths, **options), expected)
    assert_same_motifs(zorp_miner.find_motifs(array, **options), expected)
    address = client.scheduler.address
    got = zorp_miner.find_motifs([str(p) for p in paths], client=address, **options)
    assert_same_motifs(got, expected)


def test_errors_name_the_part_and_the_series(client: Any, tmp_path: pathlib.Path) -> None:
    bad = np.ones((3, 50))
    bad[1, 10] = np.nan
    parts = [dask.delayed(np.ones)((2, 50)), dask.delayed(lambda: bad)()]
    with pytest.raises(ValueError, match=r"delayed part 1 of 2: series 1, point 10: nan"):
        zorp_miner.find_motifs(parts, client=client, **EXACT)
    missing = tmp_path / "missing.npy"
    with pytest.raises(FileNotFoundError, match="missing.npy"):
        zorp_miner.find_motifs([missing], client=client, **EXACT)
    with pytest.raises(TypeError, match="scheduler's address"):
        zorp_miner.find_motifs([[1.0, 2.0]], client=3, **EXACT)


def test_two_runs_in_a_row_on_the_same_series_held_here(client: Any) -> None:
    """Each run scatters the series under keys of its own: the first run's release does not
    take the data from under the second."""
    series = as_series_set(planted_walks(12, seed=21))
    expected = zorp_miner.find_motifs(series, length=96)
    for _ in range(3):
        assert_same_motifs(zorp_miner.find_motifs(series, client=client, length=96), expected)


def test_an_address_without_a_scheduler_is_a_cluster_error_that_names_it(
    monkeypatch: pytest.MonkeyPatch, tmp_path: pathlib.Path, capsys: pytest.CaptureFixture[str]
) -> None:
    from zorp_miner.cluster import dask as _dask

    monkeypatch.setattr(_dask, "CONNECT_TIMEOUT", 1.0)
    nowhere = "tcp://127.0.0.1:1"
    with pytest.raises(ClusterError, match=r"no Dask scheduler answered at tcp://127\.0\.0\.1:1 within 1 s"):
        zorp_miner.find_motifs([[1.0, 2.0, 3.0, 4.0, 5.0]], client=nowhere)
    path = tmp_path / "series.csv"
    path.write_text("1,2,3,4,5,6,7,8\n")
    assert main([str(path), "--scheduler", nowhere]) == 1
    err = capsys.readouterr().err
    assert err.count("\n") == 1 and "no Dask scheduler answered at tcp://127.0.0.1:1" in err


def test_the_command_line_runs_files_on_local_workers(
    walks: list[FloatArray], tmp_path: pathlib.Path, capsys: pytest.CaptureFixture[str]
) -> None:
    paths = []
    for i, (a, b) in enumerate(zip(BOUNDS, BOUNDS[1:])):
        paths.append(str(tmp_path / f"part{i}.json"))
        pathlib.Path(paths[-1]).write_text(json.dumps([w.tolist() for w in walks[a:b]]))
    options = ["--mode", "exact", "--seglen", "8", "--alphabet", "5", "--format", "json", "--top", "0"]
    assert main([*paths, *options]) == 0
    here = json.loads(capsys.readouterr().out)
    assert main([*paths, *options, "--workers", "2"]) == 0
    there = json.loads(capsys.readouterr().out)
    assert here == there and here["file"] == paths and here["series"]["count"] == 30
    assert main([paths[0], "--workers", "2", "--plot", str(tmp_path / "p.png")]) == 2
    assert "--plot draws the series here" in capsys.readouterr().err


def test_importing_the_package_imports_no_dask() -> None:
    code = "import sys, zorp_miner; print(sorted(m for m in sys.modules if m.split('.')[0] in ('dask', 'distributed')))"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "[]"


def test_without_the_extra_a_cluster_run_says_what_to_install(monkeypatch: pytest.MonkeyPatch) -> None:
    monkeypatch.setitem(sys.modules, "distributed", None)
    monkeypatch.delitem(sys.modules, "zorp_miner.cluster.dask", raising=False)
    import zorp_miner.cluster

    monkeypatch.delattr(zorp_miner.cluster, "dask", raising=False)
    with pytest.raises(ImportError, match=r"pip install 'zorp_miner\[dask\]'"):
        zorp_miner.find_motifs([[1.0, 2.0, 3.0]], client="tcp://127.0.0.1:1")


@pytest.mark.parametrize("radius", [None, 0.9])
def test_a_search_by_example_on_the_cluster_is_the_search_here(
    client: Any, planted: list[FloatArray], tmp_path: pathlib.Path, radius: float | None
) -> None:
    query = np.repeat([6.0, -6.0, 6.0, -6.0], 24)
    options: dict[str, Any] = {"max_distance": radius, "exclusion": 24}
    expected = zorp_miner.find_matches(query, planted, **options)
    assert len(expected) >= 25

    def same(got: zorp_miner.Matches) -> None:
        for name in ("series", "starts", "distances", "series_lengths"):
            assert getattr(got, name).tobytes() == getattr(expected, name).tobytes(), name
        assert (got.max_distance, got.closest) == (expected.max_distance, expected.closest)

    same(zorp_miner.find_matches(query, delayed_parts(planted), client=client, **options))
    same(zorp_miner.find_matches(query, planted, client=client, **options))
    paths = []
    for i, (a, b) in enumerate(zip(BOUNDS, BOUNDS[1:])):
        paths.append(str(tmp_path / f"part{i}.json"))
        pathlib.Path(paths[-1]).write_text(json.dumps([w.tolist() for w in planted[a:b]]))
    same(zorp_miner.find_matches(query, paths, client=client, **options))


def test_the_command_line_searches_files_on_local_workers(
    planted: list[FloatArray], tmp_path: pathlib.Path, capsys: pytest.CaptureFixture[str]
) -> None:
    paths = []
    for i, (a, b) in enumerate(zip(BOUNDS, BOUNDS[1:])):
        paths.append(str(tmp_path / f"part{i}.json"))
        pathlib.Path(paths[-1]).write_text(json.dumps([w.tolist() for w in planted[a:b]]))
    np.savetxt(tmp_path / "query.csv", np.repeat([6.0, -6.0, 6.0, -6.0], 24)[None], delimiter=",")
    command = ["match", str(tmp_path / "query.csv"), *paths, "--format", "json"]
    assert main(command) == 0
    here = json.loads(capsys.readouterr().out)
    assert main([*command, "--workers", "2"]) == 0
    there = json.loads(capsys.readouterr().out)
    assert here == there and here["file"] == paths and len(here["matches"]) >= 25


def test_occurrences_on_the_cluster_are_the_search_here(
    client: Any,
    planted: list[FloatArray],
    tmp_path: pathlib.Path,
    capsys: pytest.CaptureFixture[str],
) -> None:
    motifs = zorp_miner.find_motifs(planted, length=96, top=2)
    expected = motifs.occurrences(planted)
    got = motifs.occurrences(delayed_parts(planted), client=client)
    for name in ("ranks", "series", "starts", "lengths", "distances", "max_distances"):
        assert getattr(got, name).tobytes() == getattr(expected, name).tobytes(), name
    # The command line writes them from the cluster's parts, as from the files read here.
    paths = []
    for i, (a, b) in enumerate(zip(BOUNDS, BOUNDS[1:])):
        paths.append(str(tmp_path / f"part{i}.json"))
        pathlib.Path(paths[-1]).write_text(json.dumps([w.tolist() for w in planted[a:b]]))
    command = [*paths, "--length", "96", "--top", "2", "--format", "csv"]
    assert main(command) == 0
    here = capsys.readouterr().out
    assert main([*command, "--workers", "2"]) == 0
    assert capsys.readouterr().out == here and len(here.splitlines()) == len(expected) + 1


def test_inside_a_worker_the_kernels_use_the_workers_threads(client: Any) -> None:
    """The workers here run one thread each: their kernels take one, whatever this process's
    cores or threads= say."""
    from zorp_miner.compute import threads

    with threads.using(4):
        assert client.submit(threads.current, pure=False).result() == 1
    assert client.submit(threads.available, pure=False).result() >= 1
