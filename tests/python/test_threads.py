"""find_motifs called from several threads at once gives each thread what the same call gives
alone: the native kernels run without the interpreter lock, on their own copies of what they
are given, and share no state between calls."""

import threading
from typing import Any

import pytest
from conftest import assert_same_motifs, planted_walks

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

