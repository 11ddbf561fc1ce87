"""Motifs within one series without a length: what is found, and what chance marks likely.

1. Planted: a random walk of 10^4 and 10^5 points with a 100-point shape (four steps of 25
   points, as bench_within_memory.py plants it) at ten places, searched with
   ``find_motifs(walk)`` and no length: the top motif's length, windows, evidence, how many
   copies its windows lie on (a window starting less than its length before a copy and before
   the copy's end), and the wall time.
2. Chance: series of 3,000 points of white noise (even seeds) and random walks (odd seeds),
   searched without a length with ``top=None, keep="all"``: how many series hold a motif marked
   likely, of how many motifs.

    .venv/bin/python bench/bench_within_nolength.py              # both
    .venv/bin/python bench/bench_within_nolength.py --chance 0 240
"""

from __future__ import annotations

import argparse
import time

import numpy as np

import zorp_miner

LENGTH = 100
COPIES = 10


def planted_walk(points: int, seed: int = 1) -> tuple[np.ndarray, list[int]]:
    walk = np.cumsum(np.random.default_rng(seed).normal(size=points))
    shape = np.repeat([0.0, 20.0, -10.0, 10.0], LENGTH // 4)
    starts = list(range(500, points - 2 * LENGTH, points // COPIES))
    for start in starts:
        walk[start : start + LENGTH] += shape
    return walk, starts


def planted_rows(sizes: list[int]) -> None:
    print(f"{'points':>8} {'length':>6} {'windows':>7} {'on copies':>9} {'evidence':>8} {'likely':>6} {'seconds':>8}")
    for points in sizes:
        walk, starts = planted_walk(points)
        began = time.perf_counter()
        top = zorp_miner.find_motifs(walk, top=1, progress=False)[0]
        took = time.perf_counter() - began
        on = {p for s in top.best_matches.tolist() for p in starts if p - top.length < s < p + LENGTH}
        print(
            f"{points:>8} {top.length:>6} {top.support:>7} {len(on):>6}/{COPIES} {top.evidence:>8.2f} "
            f"{'yes' if top.likely else 'no':>6} {took:>8.1f}"
        )


def chance_rows(first: int, last: int) -> None:
    hits, motifs, began = 0, 0, time.perf_counter()
    for seed in range(first, last):
        values = np.random.default_rng(seed).normal(size=3000)
        if seed % 2:
            values = np.cumsum(values)
        found = zorp_miner.find_motifs(values, keep="all", top=None, progress=False)
        motifs += found.found
        likely = [motif for motif in found if motif.likely]
        if likely:
            hits += 1
            print(f"seed {seed} ({'walk' if seed % 2 else 'noise'}): {likely[0]!r}")
    print(
        f"{last - first} series of 3,000 points (seeds {first} to {last - 1}): {hits} with a likely "
        f"motif, {motifs} motifs in all, {time.perf_counter() - began:.0f} s"
    )


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--planted", type=int, nargs="*", default=None, help="points of the planted walks (10^4, 10^5)")
    parser.add_argument("--chance", type=int, nargs=2, default=None, metavar=("FIRST", "LAST"), help="seeds of the chance series")
    args = parser.parse_args()
    both = args.planted is None and args.chance is None
    if args.planted is not None or both:
        planted_rows(args.planted or [10_000, 100_000])
    if args.chance is not None or both:
        chance_rows(*(args.chance or (0, 240)))


if __name__ == "__main__":
    main()
