"""Which series hold the top motif: the robust mode's choice against the best cut there is.

The main benchmark scores the top motif on the series it holds. This takes the top motif given
the length on the development subset (rule A's 20-series sets, those of ``run.py --quick``),
finds its best match in every series (``find_matches``, no radius), and scores three choices of
the series that hold it, set by set: the robust mode's own; every series; and the best cut of
the series sorted by their best match's distance (the k closest, k chosen per set with the plants
known: no rule can do better by a distance bar alone). Then the means by host kind. What the
robust mode's choice loses against the best cut is all a better bar could gain.

    .venv/bin/python bench/quality/membership.py
    .venv/bin/python bench/quality/membership.py --datasets GunPoint,OSULeaf
"""

from __future__ import annotations

import argparse
import math
import pathlib
import sys
from collections.abc import Sequence

import numpy as np

sys.path[:0] = [str(pathlib.Path(__file__).parent)]

from development import by_host, development_cases  # noqa: E402
from planted_sets import Case  # noqa: E402
from scoring import Matches, score  # noqa: E402

import zorp_miner  # noqa: E402


def every_best_match(shape: np.ndarray, series: list[np.ndarray]) -> dict[int, tuple[int, float]]:
    """Series -> (start, distance) of the shape's best match there (series without a window of its
    length, or only flat or gapped ones, are left out)."""
    found = zorp_miner.find_matches(shape, series, max_distance=math.inf)
    best: dict[int, tuple[int, float]] = {}
    # Closest first: the first match of a series is its best.
    for i, start, distance in zip(found.series.tolist(), found.starts.tolist(), found.distances.tolist(), strict=True):
        best.setdefault(i, (start, distance))
    return best


def choices(case: Case) -> tuple[float, float, float]:
    """The top motif's F1 on the series it holds, on every series, and on the best cut."""
    motifs = zorp_miner.find_motifs(case.series, length=case.length, minsup=case.minsup, top=1)
    if not motifs:
        return 0.0, 0.0, 0.0
    motif = motifs[0]
    m = motif.length
    held: Matches = {i: (s, m) for i, s in zip(motif.series.tolist(), motif.best_matches.tolist(), strict=True)}
    best = every_best_match(motif.representative, [np.asarray(s, dtype=np.float64) for s in case.series])
    everywhere: Matches = {i: (start, m) for i, (start, _) in best.items()}
    closest = sorted(best, key=lambda i: (best[i][1], i))
    cut = max(score({i: everywhere[i] for i in closest[:k]}, case.plants[0]).f1 for k in range(1, len(closest) + 1))
    return score(held, case.plants[0]).f1, score(everywhere, case.plants[0]).f1, cut


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--datasets", default="", help="only these data sets, comma-separated (default: all)")
    args = parser.parse_args(argv)
    cases = development_cases(parser, args.datasets)
    rows: dict[str, list[Sequence[float]]] = {}
    print("robust, given the length, top motif's F1: on the series it holds, on every series, best cut")
    for case in cases:
        row = choices(case)
        rows.setdefault(case.host, []).append(row)
        print(f"  {case.key:50s} {row[0]:5.2f} {row[1]:5.2f} {row[2]:5.2f}", flush=True)
    for host, table in by_host(rows):
        print(
            f"  mean, {host:6s} ({len(table)} sets): held {table[:, 0].mean():.3f},"
            f" every series {table[:, 1].mean():.3f}, best cut {table[:, 2].mean():.3f}"
        )
    return 0


if __name__ == "__main__":
    sys.exit(main())
