"""Times find_motifs called from several threads at once against the same calls one after the
other: how much of a run holds the interpreter lock.

Each call works on its own set of noisy random walks with a square wave planted in each (seeds
1, 2, ...), in the robust mode with and without a length and in the exact mode. The threads
start together; the figure printed per mode is the wall time of the threads over the time of
the same calls in sequence, the best of --repeat rounds: 1.0 when a run holds the lock
throughout, 1 / min(threads, cores) at best, when it never does (and nothing else runs).

    .venv/bin/python bench/bench_threads.py [--threads 4] [--series 40] [--points 2000]
"""

import argparse
import os
import threading
import time
from collections.abc import Callable
from typing import Any

import numpy as np
import numpy.typing as npt

import zorp_miner

MODES: dict[str, dict[str, Any]] = {
    "robust, length 96": {"length": 96},
    "robust, no length": {},
    "exact, seglen 8": {"mode": "exact", "seglen": 8},
}


def planted(series: int, points: int, seed: int) -> npt.NDArray[np.float64]:
    rng = np.random.default_rng(seed)
    rows = np.cumsum(rng.normal(size=(series, points)), axis=1) * 0.3 + rng.normal(size=(series, points))
    for row in rows:
        at = int(rng.integers(0, points - 96))
        row[at : at + 96] += np.repeat([6.0, -6.0, 6.0, -6.0], 24)
    return rows


def call_of(rows: npt.NDArray[np.float64], params: dict[str, Any]) -> Callable[[], object]:
    return lambda: zorp_miner.find_motifs(rows, **params)


def in_threads(calls: list[Callable[[], object]]) -> float:
    """Wall time of the calls, each in its own thread, started together."""
    barrier = threading.Barrier(len(calls) + 1)
    errors: list[BaseException] = []

    def run(call: Callable[[], object]) -> None:
        barrier.wait()
        try:
            call()
        except BaseException as error:  # reported after the join
            errors.append(error)

    threads = [threading.Thread(target=run, args=(call,)) for call in calls]
    for thread in threads:
        thread.start()
    barrier.wait()
    started = time.perf_counter()
    for thread in threads:
        thread.join()
    if errors:
        raise errors[0]
    return time.perf_counter() - started


def in_sequence(calls: list[Callable[[], object]]) -> float:
    started = time.perf_counter()
    for call in calls:
        call()
    return time.perf_counter() - started


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--threads", type=int, default=4, help="threads (4)")
    parser.add_argument("--series", type=int, default=40, help="series per call (40)")
    parser.add_argument("--points", type=int, default=2000, help="points per series (2000)")
    parser.add_argument("--repeat", type=int, default=3, help="rounds; the best counts (3)")
    args = parser.parse_args()
    data = [planted(args.series, args.points, seed) for seed in range(1, args.threads + 1)]
    cores = len(os.sched_getaffinity(0))
    print(
        f"{args.threads} threads, each {args.series} series x {args.points} points; {cores} cores; "
        f"zorp_miner from {zorp_miner.__file__}"
    )
    print(f"{'mode':<20} {'sequence s':>11} {'threads s':>10} {'ratio':>6}  (best {1 / min(args.threads, cores):.2f})")
    for name, params in MODES.items():
        calls = [call_of(rows, params) for rows in data]
        sequence = min(in_sequence(calls) for _ in range(args.repeat))
        threads = min(in_threads(calls) for _ in range(args.repeat))
        print(f"{name:<20} {sequence:>11.2f} {threads:>10.2f} {threads / sequence:>6.2f}")


if __name__ == "__main__":
    main()
