"""A Dask cluster that loses workers mid-run gives the answer of the run in this process, bit for
bit, or stops without a result and names what it lost."""

import os
import signal
import time
from collections.abc import Iterator
from typing import Any

import pytest

import zorp_miner
from conftest import assert_same_motifs
from zorp_miner._types import FloatArray

dask = pytest.importorskip("dask")
distributed = pytest.importorskip("distributed")

from clusters import EXACT, delayed_parts, kill_one_worker_during, local_client, planted_set  # noqa: E402
from zorp_miner.cluster.dask import ClusterError  # noqa: E402


@pytest.fixture(scope="module")
def client() -> Iterator[Any]:
    with local_client() as client:
        yield client


@pytest.fixture(scope="module")
def planted() -> list[FloatArray]:
    return planted_set()


@pytest.mark.parametrize("mode", ["robust", "exact"])
@pytest.mark.parametrize("step", ["_part_lengths", "_call"])  # loading the parts, working on them
def test_a_worker_killed_mid_run_does_not_change_the_answer(
    client: Any, planted: list[FloatArray], mode: str, step: str
) -> None:
    options: dict[str, Any] = {"length": 96} if mode == "robust" else EXACT
    expected = zorp_miner.find_motifs(planted, **options)
    got = kill_one_worker_during(
        client,
        lambda: zorp_miner.find_motifs(delayed_parts(planted), client=client, **options),
        step,
    )
    assert_same_motifs(got, expected)


def test_a_worker_killed_twice_is_started_anew_both_times(client: Any) -> None:
    """The second kill lands just before the first kill's lost-worker time-out ends, so the
    cluster's timer fires while the worker is being started anew (a wait of about 15 s with
    the stock time-out; none with the one set here)."""
    timeout = dask.utils.parse_timedelta(dask.config.get("distributed.deploy.lost-worker-timeout"))

    def kill_worker_0() -> float:
        """Kills worker 0 and returns when the cluster saw it lost (time.monotonic())."""
        address = next(a for a, w in client.scheduler_info()["workers"].items() if w["name"] == 0)
        client.submit(lambda: os.kill(os.getpid(), signal.SIGKILL), pure=False, workers=[address])
        while address in client.cluster.scheduler_info["workers"]:
            time.sleep(0.01)
        return time.monotonic()

    lost = kill_worker_0()
    client.wait_for_workers(2, timeout=300)
    if timeout < 60:
        time.sleep(max(0.0, lost + timeout - 0.2 - time.monotonic()))
    kill_worker_0()
    time.sleep(1.0)
    client.wait_for_workers(2, timeout=300)
    time.sleep(1.0)
    assert len(client.cluster.workers) == 2, "the cluster gave up a worker instead of starting it anew"
    assert len(client.scheduler_info()["workers"]) == 2


def test_a_part_lost_too_often_stops_the_run_without_a_result(
    client: Any, planted: list[FloatArray]
) -> None:
    scheduler = client.cluster.scheduler
    allowed = scheduler.allowed_failures
    scheduler.allowed_failures = 0
    try:
        lost = r"without a result: the cluster lost the workers .* part \d \(delayed part \d of 5\)"
        with pytest.raises(ClusterError, match=lost):
            kill_one_worker_during(
                client,
                lambda: zorp_miner.find_motifs(delayed_parts(planted), client=client, length=96),
            )
    finally:
        scheduler.allowed_failures = allowed


@pytest.fixture
def own_client() -> Iterator[Any]:
    """A cluster of its own, as the module's: a test that kills its workers leaves the others'
    cluster as it was."""
    with local_client() as client:
        yield client


@pytest.mark.parametrize("mode", ["robust", "exact"])
def test_a_worker_killed_with_series_scattered_from_here_does_not_change_the_answer(
    own_client: Any, planted: list[FloatArray], mode: str
) -> None:
    """The killed worker held scattered parts, which no recipe can load again: the run starts
    over with the series scattered anew."""
    options: dict[str, Any] = {"length": 96} if mode == "robust" else EXACT
    expected = zorp_miner.find_motifs(planted, **options)
    got = kill_one_worker_during(
        own_client, lambda: zorp_miner.find_motifs(planted, client=own_client, **options)
    )
    assert_same_motifs(got, expected)


def test_series_scattered_from_here_lost_on_every_try_stop_the_run(
    client: Any, planted: list[FloatArray], monkeypatch: pytest.MonkeyPatch
) -> None:
    """Each run loses part 1's series as soon as the parts are counted (their futures are
    cancelled, as a worker's death loses them): SCATTER_TRIES runs, then a ClusterError that
    names the part."""
    from zorp_miner.cluster import dask as _dask

    runs = []
    counted = _dask.DaskParts.__init__

    def losing_part_1(parts: Any, *args: Any, **kwargs: Any) -> None:
        counted(parts, *args, **kwargs)
        runs.append(parts)
        client.cancel(parts.scattered[1])

    monkeypatch.setattr(_dask.DaskParts, "__init__", losing_part_1)
    lost = r"without a result: the cluster lost part 1 \(series \d+ to \d+\), scattered from this process"
    with pytest.raises(ClusterError, match=lost):
        zorp_miner.find_motifs(planted, client=client, length=96)
    assert len(runs) == _dask.SCATTER_TRIES == 3
