"""Checks that STUMPY is called and scored fairly in the quality benchmark, and says why it misses.

For the control sets (each data set's most frequent class planted in every one of 20 series of
white noise) and the first sets of the main section (planted_sets.py):

- ostinato's pick: its radius (the largest, over the other series, of the distance from its
  window to that series' nearest neighbour; z-normalised Euclidean distance, not divided by the
  length) and whether the pick itself lies on a planted instance;
- the best planted radius: the smallest radius that a planted instance, taken as the consensus
  window, has over the same series (over every series, and over the series that hold an
  instance only);
- that each series' nearest neighbour of the pick, as the benchmark takes it from stumpy.mass,
  is the window our own sliding distance (zorp_miner.compute.sliding, length-normalised distances
  sqrt(2 (1 - r))) finds closest to the same window, at the same distance;
- the share of the pick's variance that a monotone curve explains (zorp_miner's robust mode
  skips shapes above 0.9 as trivial: ramps and steps, which every long series holds);
- the benchmark's F1 for STUMPY (the plants scored at their own lengths).

When ostinato's radius is below the best planted radius, ostinato returned what its criterion
asks for: some other window is closer to a nearest neighbour in *every* series than any
planted instance is. That is the case to explain, not a bug.

    .venv/bin/python bench/quality/stumpy_check.py [--sets N]

Instances of unequal length (PickupGestureWiimoteZ, JapaneseVowels) are taken at their own
length as consensus windows, compared at the set's length L where they are longer than L.
"""

from __future__ import annotations

import argparse
import importlib
import math
import pathlib
import sys
from itertools import islice
from typing import Any

import numpy as np

sys.path[:0] = [str(pathlib.Path(__file__).parent)]

from labelled_data import DATASETS, FloatArray  # noqa: E402
from planted_sets import Case, control_case, main_cases  # noqa: E402
from scoring import overlaps, score  # noqa: E402

from zorp_miner.compute.shapes import monotone_share  # noqa: E402
from zorp_miner.compute.sliding import SeriesBank  # noqa: E402
from zorp_miner.compute.sliding import znormalised  # noqa: E402


def stumpy() -> Any:
    return importlib.import_module("stumpy")


def nearest(window: FloatArray, series: list[FloatArray]) -> tuple[list[int], list[float]]:
    """Start and z-normalised Euclidean distance of window's nearest neighbour in each series."""
    starts, distances = [], []
    for values in series:
        profile = np.asarray(stumpy().mass(window, values), dtype=np.float64)
        starts.append(int(np.argmin(profile)))
        distances.append(float(profile[starts[-1]]))
    return starts, distances


def radius(window: FloatArray, owner: int, series: list[FloatArray], among: list[int]) -> float:
    """The largest nearest-neighbour distance of window over the series in among but its own."""
    others = [i for i in among if i != owner]
    return max(nearest(window, [series[i] for i in others])[1]) if others else 0.0


def check(case: Case) -> None:
    series, m = case.series, case.length
    plants = case.plants[0]
    found_radius, owner, start = stumpy().ostinato(series, m)
    window = series[owner][start : start + m]
    own = plants[owner]
    on_planted = own is not None and overlaps(start, m, *own)
    carriers = [i for i, plant in enumerate(plants) if plant is not None]
    everyone = list(range(len(series)))
    windows = [
        (i, series[i][at : at + min(n, m)]) for i, plant in enumerate(plants) if plant is not None
        for at, n in [plant]
    ]
    planted_all = min(radius(w, i, series, everyone) for i, w in windows)
    planted_carriers = min(radius(w, i, series, carriers) for i, w in windows)
    starts, distances = nearest(window, series)
    bank = SeriesBank(series, m)
    our_starts, our_best = bank.best(znormalised(window)[None])
    same_start = sum(1 for a, b in zip(starts, our_starts[0].tolist(), strict=True) if a == b)
    # Ours is divided by sqrt(m): sqrt(2 (1 - r)) against sqrt(2 m (1 - r)).
    gap = max(abs(d / math.sqrt(m) - e) for d, e in zip(distances, our_best[0].tolist(), strict=True))
    result = score({i: (s, m) for i, s in enumerate(starts)}, plants)
    name = f"{case.dataset} {case.host} {case.size}x{round(case.support * 100)}% (L={m})"
    print(
        f"{name:<44} {found_radius:>8.2f} {'yes' if on_planted else 'no':>6} "
        f"{planted_all:>9.2f} {planted_carriers:>9.2f} {same_start:>4}/{len(series):<3} "
        f"{gap:>9.1e} {monotone_share(znormalised(window)):>9.2f} {result.f1:>6.2f}",
        flush=True,
    )


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sets", type=int, default=12, help="check the first N sets of the main section (12)")
    args = parser.parse_args(argv)
    print(
        f"{'set':<44} {'ostinato':>8} {'on a':>6} {'planted radius':>19} {'same NN':>8} "
        f"{'dist. gap':>9} {'monotone':>9} {'F1':>6}"
    )
    print(
        f"{'':<44} {'radius':>8} {'plant?':>6} {'all':>9} {'carriers':>9} {'':>8} {'':>9} {'share':>9} {'':>6}"
    )
    for case in [control_case(dataset) for dataset in DATASETS] + list(islice(main_cases(), args.sets)):
        check(case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
