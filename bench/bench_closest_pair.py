"""Within one series: is find_motifs' closest pair the exact one, and is the shape with the most
copies its top likely motif? Against STUMPY's ``stump`` on the same walks, side by side.

The walks, by rules fixed before any figure was seen: for seed s (0 to 19 by default), a random
walk of 10^5 Gaussian steps (generator seed s) with a 100-point shape added at ``copies`` = 10
+ s % 3 places, chosen at random among the multiples of 150 points (so no two overlap); the
shape by s % 3: smooth (three cycles of a sine of amplitude 10 under a Hann window), square
(the steps 0, 20, -10, 10 of 25 points each) or spiky (five spikes of height 20 and a
deviation of 1.5 points, 20 points apart). Both look with STUMPY's exclusion zone, ceil(m / 4)
points.

For each walk: the closest pair of ``find_motifs(walk, length=100, exclusion=25)`` (the two
first windows of its motif of smallest score) against STUMPY's (the smallest of its matrix
profile and that window's neighbour): the same windows or not, and the two distances on
find_motifs' scale (STUMPY's divided by sqrt(m)); whether find_motifs' top motif is likely and
covers most copies (a window within m / 2 of at least half of them); and both times. numba
uses its default threads and is compiled by a first call before any timing.

    .venv/bin/python bench/bench_closest_pair.py [--seeds 20] [--points 100000]
"""

from __future__ import annotations

import argparse
import math
import time
from typing import Any

import numpy as np
import numpy.typing as npt

import zorp_miner

FloatArray = npt.NDArray[np.float64]
LENGTH = 100
KINDS = ("smooth", "square", "spiky")


def shape_of(kind: str) -> FloatArray:
    points = np.arange(LENGTH, dtype=np.float64)
    if kind == "smooth":
        return 10.0 * np.sin(np.linspace(0.0, 6.0 * np.pi, LENGTH)) * np.hanning(LENGTH)
    if kind == "square":
        return np.repeat([0.0, 20.0, -10.0, 10.0], LENGTH // 4)
    centres = 10.0 + 20.0 * np.arange(5)
    return np.asarray(20.0 * np.exp(-0.5 * ((points[:, None] - centres) / 1.5) ** 2).sum(axis=1))


def planted_walk(seed: int, points: int) -> tuple[FloatArray, list[int], str]:
    rng = np.random.default_rng(seed)
    kind = KINDS[seed % 3]
    copies = 10 + seed % 3
    walk = np.cumsum(rng.standard_normal(points))
    starts = sorted(int(s) for s in rng.choice(np.arange(0, points - LENGTH, 150), copies, replace=False))
    for start in starts:
        walk[start : start + LENGTH] += shape_of(kind)
    return walk, starts, kind


def stumpy() -> Any:
    import stumpy as module

    return module


def covered(windows: list[int], plants: list[int]) -> int:
    return sum(any(abs(w - p) <= LENGTH // 2 for w in windows) for p in plants)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seeds", type=int, default=20)
    parser.add_argument("--points", type=int, default=100_000)
    args = parser.parse_args()
    zone = math.ceil(LENGTH / 4)
    stumpy().stump(np.cumsum(np.random.default_rng(0).normal(size=1000)), LENGTH)  # compiles
    print(f"walks of {args.points} points, shapes of {LENGTH}, exclusion zone {zone}; stumpy {stumpy().__version__}")
    print(f"{'seed':>4} {'shape':>7} {'copies':>6} {'ours pair':>16} {'stumpy pair':>16} {'same':>4} "
          f"{'ours d':>8} {'stumpy d':>8} {'top':>7} {'likely':>6} {'ours s':>7} {'stumpy s':>8}")  # fmt: skip
    same_pairs = most_repeated = 0
    totals = [0.0, 0.0]
    for seed in range(args.seeds):
        walk, plants, kind = planted_walk(seed, args.points)
        began = time.perf_counter()
        motifs = zorp_miner.find_motifs(walk, length=LENGTH, exclusion=zone, progress=False)
        ours_s = time.perf_counter() - began
        closest = min(motifs, key=lambda motif: motif.score)
        mine = tuple(sorted(int(s) for s in closest.best_matches[:2]))
        top = motifs[0]
        hit = covered(top.best_matches.tolist(), plants)
        began = time.perf_counter()
        profile = stumpy().stump(walk, LENGTH)
        theirs_s = time.perf_counter() - began
        distances = profile[:, 0].astype(np.float64)
        a = int(np.argmin(distances))
        other = (min(a, int(profile[a, 1])), max(a, int(profile[a, 1])))
        same = mine == other
        found = bool(top.likely) and 2 * hit >= len(plants)
        same_pairs += same
        most_repeated += found
        totals[0] += ours_s
        totals[1] += theirs_s
        print(f"{seed:>4} {kind:>7} {len(plants):>6} {str(mine):>16} {str(other):>16} {'yes' if same else 'no':>4} "
              f"{closest.score:>8.4f} {distances[a] / math.sqrt(LENGTH):>8.4f} {hit:>3}/{len(plants):<3} "
              f"{'yes' if top.likely else 'no':>6} {ours_s:>7.2f} {theirs_s:>8.2f}")  # fmt: skip
    print(f"the same closest pair in {same_pairs} of {args.seeds}; the most-repeated shape the top likely motif in "
          f"{most_repeated} of {args.seeds}; time {totals[0]:.1f} s against STUMPY's {totals[1]:.1f} s")


if __name__ == "__main__":
    main()
