"""Discords within one long series against STUMPY's matrix profile: the same windows, the same
distances, and the time of each, side by side.

The series: a random walk (steps N(0, 1)) of N points, seed 5, with a 50-point square wave of
amplitude 15 added at N / 3; also white noise of N points. `find_discords(x, 100, top=3)` (its
default threads) against `stumpy.stump(x, 100)` (numba's default threads, compiled before
timing), whose top 3 discords are taken from its matrix profile by the same rule: the highest
value, then the highest at least 100 points from those before, and so on, with STUMPY's default
exclusion zone, a quarter of the length rounded up, which is find_discords' too. STUMPY's
distances are sqrt(100) times find_discords'. STUMPY is not run past --stumpy-points (100,000
points: it computes every pair); its time there, times the square of the ratio of the lengths,
stands for its time on the longer series, and is marked so. White noise is the search's worst
case (every window's nearest neighbour is about as far as the discord's): it is run past 10^5
points only with --long-noise.

    .venv/bin/python bench/bench_discords.py                          # 10^5 and 10^6 points
    .venv/bin/python bench/bench_discords.py --points 100000 --kinds walk
"""

from __future__ import annotations

import argparse
import math
import time

import numpy as np
import numpy.typing as npt

import zorp_miner

FloatArray = npt.NDArray[np.float64]
LENGTH = 100
TOP = 3


def series_of(kind: str, points: int) -> FloatArray:
    """The walk with its square wave, or white noise."""
    rng = np.random.default_rng(5)
    if kind == "noise":
        return rng.normal(size=points)
    values = np.cumsum(rng.normal(size=points))
    values[points // 3 : points // 3 + 50] += 15.0 * np.sign(np.sin(np.linspace(0.0, 6.0 * np.pi, 50)))
    return values


def stumpy_discords(values: FloatArray) -> tuple[list[int], list[float], float]:
    """STUMPY's top discords by the rule above, their distances (divided by sqrt(length)), and
    its time in seconds."""
    import stumpy

    started = time.perf_counter()
    profile = stumpy.stump(values, LENGTH)[:, 0].astype(np.float64)
    elapsed = time.perf_counter() - started
    profile[~np.isfinite(profile)] = -1.0
    starts: list[int] = []
    distances: list[float] = []
    while len(starts) < TOP and profile.max() >= 0.0:
        at = int(np.argmax(profile))
        starts.append(at)
        distances.append(float(profile[at]) / math.sqrt(LENGTH))
        profile[max(0, at - LENGTH + 1) : at + LENGTH] = -1.0
    return starts, distances, elapsed


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--points", default="100000,1000000", help="series lengths, comma-separated")
    parser.add_argument("--kinds", default="walk,noise", help="walk, noise or both")
    parser.add_argument("--stumpy-points", type=int, default=100_000, help="the longest series STUMPY runs on")
    parser.add_argument("--no-stumpy", action="store_true", help="run find_discords only")
    parser.add_argument("--long-noise", action="store_true", help="also white noise past --stumpy-points")
    args = parser.parse_args()
    if not args.no_stumpy:
        import stumpy

        stumpy.stump(np.cumsum(np.random.default_rng(0).normal(size=1000)), LENGTH)  # compile
    print(f"{'series':<16} {'find_discords':>14} {'STUMPY stump':>16} {'ratio':>8}  same windows, largest distance gap")
    stumpy_at: dict[str, tuple[int, float]] = {}
    for kind in args.kinds.split(","):
        for points in [int(p) for p in args.points.split(",")]:
            if kind == "noise" and points > args.stumpy_points and not args.long_noise:
                print(f"{kind + f' {points:,}':<16} not run: in white noise the search is quadratic (--long-noise runs it)")
                continue
            values = series_of(kind, points)
            started = time.perf_counter()
            found = zorp_miner.find_discords(values, LENGTH, top=TOP, progress=False)
            ours = time.perf_counter() - started
            name = f"{kind} {points:,}"
            if args.no_stumpy:
                print(f"{name:<16} {ours:>12.2f} s {'-':>16} {'-':>8}  starts {found.starts.tolist()}")
                continue
            if points <= args.stumpy_points:
                starts, distances, theirs = stumpy_discords(values)
                stumpy_at[kind] = (points, theirs)
                gap = float(np.max(np.abs(np.array(distances) - found.distances), initial=0.0))
                same = f"{starts == found.starts.tolist()}, {gap:.1e}  starts {found.starts.tolist()}"
                print(f"{name:<16} {ours:>12.2f} s {theirs:>14.2f} s {theirs / ours:>7.1f}x  {same}")
            elif kind in stumpy_at:
                shorter, seconds = stumpy_at[kind]
                estimate = seconds * (points / shorter) ** 2
                print(
                    f"{name:<16} {ours:>12.2f} s {estimate:>12.0f} s (e) {estimate / ours:>7.0f}x  "
                    f"(e): STUMPY's time at {shorter:,} points x {(points / shorter) ** 2:g}; starts {found.starts.tolist()}"
                )


if __name__ == "__main__":
    main()
