"""Checks that STUMPY is called and scored fairly in the quality benchmark, and says why it misses.

For each planted set, and for two easy sets (the same real instances planted in white noise):

- ostinato's pick: its radius (the largest, over the other series, of the distance from its
  window to that series' nearest neighbour; z-normalised Euclidean distance, not divided by the
  length) and whether the pick itself lies on a planted instance;
- the best planted radius: the smallest radius that a planted instance, taken as the consensus
  window, has over the same series (over every series, and over the series that hold an
  instance only);
- that each series' nearest neighbour of the pick, as the benchmark takes it from stumpy.mass,
  is the window our own sliding distance (zorp_miner._sliding, length-normalised distances
  sqrt(2 (1 - r))) finds closest to the same window, at the same distance;
- the share of the pick's variance that a monotone curve explains (zorp_miner's robust mode
  skips shapes above 0.9 as trivial: ramps and steps, which every long series holds);
- the benchmark's F1 for STUMPY.

When ostinato's radius is below the best planted radius, ostinato returned what its criterion
asks for: some other window is closer to a nearest neighbour in *every* series than any
planted instance is. That is the case to explain, not a bug.

    .venv/bin/python bench/quality/stumpy_check.py [--sets N]
"""

from __future__ import annotations

import argparse
import importlib
import math
import pathlib
import sys
from typing import Any

import numpy as np

sys.path[:0] = [str(pathlib.Path(__file__).parent)]

from planted_sets import PlantedSet, benchmark_sets, easy_sets  # noqa: E402
from scoring import overlaps, score  # noqa: E402

from zorp_miner._robust import monotone_share  # noqa: E402
from zorp_miner._sliding import SeriesBank, znormalised  # noqa: E402


def stumpy() -> Any:
    return importlib.import_module("stumpy")


def nearest(window: np.ndarray, series: list[np.ndarray]) -> tuple[list[int], list[float]]:
    """Start and z-normalised Euclidean distance of window's nearest neighbour in each series."""
    starts, distances = [], []
    for values in series:
        profile = np.asarray(stumpy().mass(window, values), dtype=np.float64)
        starts.append(int(np.argmin(profile)))
        distances.append(float(profile[starts[-1]]))
    return starts, distances


def radius(window: np.ndarray, owner: int, series: list[np.ndarray], among: list[int]) -> float:
    """The largest nearest-neighbour distance of window over the series in among but its own."""
    others = [i for i in among if i != owner]
    return max(nearest(window, [series[i] for i in others])[1]) if others else 0.0


def check(case: PlantedSet) -> None:
    series, m = case.series, case.length
    found_radius, owner, start = stumpy().ostinato(series, m)
    window = series[owner][start : start + m]
    planted_owner = case.planted_at[owner]
    on_planted = planted_owner is not None and overlaps(start, m, planted_owner, m)
    carriers = [i for i, at in enumerate(case.planted_at) if at is not None]
    everyone = list(range(len(series)))
    planted_all = min(
        radius(series[i][at : at + m], i, series, everyone)
        for i, at in enumerate(case.planted_at)
        if at is not None
    )
    planted_carriers = min(
        radius(series[i][at : at + m], i, series, carriers)
        for i, at in enumerate(case.planted_at)
        if at is not None
    )
    starts, distances = nearest(window, series)
    bank = SeriesBank(series, m)
    our_starts, our_best = bank.best(znormalised(window)[None])
    same_start = sum(1 for a, b in zip(starts, our_starts[0].tolist(), strict=True) if a == b)
    # Ours is divided by sqrt(m): sqrt(2 (1 - r)) against sqrt(2 m (1 - r)).
    gap = max(abs(d / math.sqrt(m) - e) for d, e in zip(distances, our_best[0].tolist(), strict=True))
    result = score({i: (s, m) for i, s in enumerate(starts)}, case.planted_at, m)
    print(
        f"{case.name + f' (m={m})':<36} {found_radius:>8.2f} {'yes' if on_planted else 'no':>6} "
        f"{planted_all:>9.2f} {planted_carriers:>9.2f} {same_start:>4}/{len(series):<3} "
        f"{gap:>9.1e} {monotone_share(znormalised(window)):>9.2f} {result.f1:>6.2f}",
        flush=True,
    )


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sets", type=int, default=12, help="check only the first N planted sets")
    args = parser.parse_args(argv)
    print(
        f"{'set':<36} {'ostinato':>8} {'on a':>6} {'planted radius':>19} {'same NN':>8} "
        f"{'dist. gap':>9} {'monotone':>9} {'F1':>6}"
    )
    print(
        f"{'':<36} {'radius':>8} {'plant?':>6} {'all':>9} {'carriers':>9} {'':>8} {'':>9} {'share':>9} {'':>6}"
    )
    for case in easy_sets() + benchmark_sets()[: args.sets]:
        check(case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
