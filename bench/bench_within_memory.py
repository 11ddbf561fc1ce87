"""Time and peak memory of a search within one long series, in one process.

A random walk (Gaussian steps, seed 1) of the given number of points with a 100-point shape (four
steps of 25 points) added at ten evenly spaced places, searched with
``find_motifs(walk, length=100, top=3)``. Prints the processor time, the wall time and the peak
resident memory of this process (``resource.getrusage``), and the motifs. One size per process,
so that each peak is its own:

    .venv/bin/python bench/bench_within_memory.py 1000000
    .venv/bin/python bench/bench_within_memory.py 3000000
"""

from __future__ import annotations

import argparse
import resource
import time

import numpy as np

import zorp_miner

LENGTH = 100
COPIES = 10


def planted_walk(points: int) -> np.ndarray:
    walk = np.cumsum(np.random.default_rng(1).normal(size=points))
    shape = np.repeat([0.0, 20.0, -10.0, 10.0], LENGTH // 4)
    for start in range(5000, points - 2 * LENGTH, points // COPIES):
        walk[start : start + LENGTH] += shape
    return walk


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("points", type=int, help="points of the walk")
    points = parser.parse_args().points
    walk = planted_walk(points)
    cpu, wall = time.process_time(), time.perf_counter()
    motifs = zorp_miner.find_motifs(walk, length=LENGTH, top=3)
    cpu, wall = time.process_time() - cpu, time.perf_counter() - wall
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1e6  # kB on Linux
    print(f"{points} points: processor {cpu:.1f} s, wall {wall:.1f} s, peak memory {peak:.2f} GB")
    print(repr(motifs))
    for motif in motifs:
        print(f"  {motif!r}")


if __name__ == "__main__":
    main()
