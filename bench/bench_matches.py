"""Search by example: zorp_miner.find_matches against STUMPY's match on the same data.

The data are random walks (Gaussian steps) with a 100-point shape added, a little noise on
each copy, once every 5,000 points on average. For each size both searches run with the same
radius (``--radius``, on find_matches' scale sqrt(2 (1 - r)); STUMPY's distances are
sqrt(m) times larger) and STUMPY's exclusion zone (a quarter of the query, rounded up), and the
figures say whether they return the same windows: how many each returns, how many of them are
the same window at the same rank, and how many are in both. STUMPY's match takes one series;
for a set, it runs on each, and its matches are put together by distance, series and start, as
find_matches orders them. Times are the best of ``--rounds`` rounds (each round runs both
calls), after a first STUMPY call that compiles its numba functions; numba runs on one thread,
as numpy's FFTs do.

Then each search with its own defaults: STUMPY's radius, max(mean − 2 std, min) of each
series' distance profile, with its exclusion zone; find_matches' chance radius with matches
that never overlap: how many matches, how many of them fall on a planted copy, and how many of
the copies are found. Last, ``--absent`` searches in data that does not hold the query (20,000
points of a random walk, or of a slow sine under white noise; queries of 32, 96 or 200 points:
a stretch of random walk, a few cycles of a sine, white noise, four random steps, a bump):
how many of the searches return a match with each default.

    .venv/bin/python bench/bench_matches.py [--sizes 1x10000,1x100000,1x1000000,100x10000]
"""

from __future__ import annotations

import argparse
import math
import os

os.environ.setdefault("NUMBA_NUM_THREADS", "1")

import sys  # noqa: E402
from pathlib import Path  # noqa: E402
from typing import Any  # noqa: E402

import numpy as np  # noqa: E402
import numpy.typing as npt  # noqa: E402

sys.path.insert(0, str(Path(__file__).parent))

from benchlib import measure  # noqa: E402

import zorp_miner  # noqa: E402

FloatArray = npt.NDArray[np.float64]
Window = tuple[int, int]  # (series, start)


def stumpy() -> Any:
    import stumpy as module

    return module


def planted(series: int, points: int, m: int, seed: int) -> tuple[FloatArray, FloatArray, list[Window]]:
    """series random walks of points each, the query added (with noise) about once every
    5,000 points of each, at least twice in the set; the query and the planted places."""
    rng = np.random.default_rng(seed)
    data = np.cumsum(rng.normal(size=(series, points)), axis=1)
    query = np.repeat([0.0, 2.0, -1.0, 1.0], m // 4) * 2.0 * math.sqrt(m)
    places: list[Window] = []
    per_series = max(1, points // 5000) if series * max(1, points // 5000) >= 2 else 2
    for i in range(series):
        slots = rng.choice((points - m) // (2 * m), size=per_series, replace=False)
        for slot in sorted(slots.tolist()):
            start = 2 * m * slot + int(rng.integers(0, m))
            data[i, start : start + m] += query + rng.normal(scale=0.1 * math.sqrt(m), size=m)
            places.append((i, start))
    return data, query, places


def stumpy_search(
    query: FloatArray, data: FloatArray, radius: float | None
) -> list[tuple[float, int, int]]:
    """STUMPY's matches of each series, together: (distance on find_matches' scale, series,
    start), by distance, series, start."""
    m = len(query)
    found = []
    for i, values in enumerate(data):
        bound = None if radius is None else float(radius * math.sqrt(m))
        for distance, start in stumpy().match(query, values, max_distance=bound):
            found.append((float(distance) / math.sqrt(m), i, int(start)))
    return sorted(found)


def compared(ours: zorp_miner.Matches, theirs: list[tuple[float, int, int]]) -> str:
    mine = list(zip(ours.series.tolist(), ours.starts.tolist()))
    other = [(i, start) for _, i, start in theirs]
    same_rank = sum(a == b for a, b in zip(mine, other))
    both = len(set(mine) & set(other))
    return f"{len(mine):>7} {len(other):>7} {same_rank:>9} {both:>7}"


def on_plants(windows: list[Window], places: list[Window], m: int) -> tuple[int, int]:
    """How many windows overlap a planted copy by half, and how many copies such a window
    covers."""
    hits = [w for w in windows if any(w[0] == p[0] and abs(w[1] - p[1]) <= m // 2 for p in places)]
    found = [p for p in places if any(w[0] == p[0] and abs(w[1] - p[1]) <= m // 2 for w in windows)]
    return len(hits), len(found)


def absent_query(kind: int, m: int, rng: np.random.Generator) -> FloatArray:
    """A query of m points: a stretch of random walk, a few cycles of a sine, white noise,
    four random steps or a bump (kind 0 to 4)."""
    if kind == 0:
        return np.cumsum(rng.normal(size=m))
    if kind == 1:
        return np.sin(np.linspace(0.0, rng.uniform(1.0, 6.0) * np.pi, m))
    if kind == 2:
        return rng.normal(size=m)
    if kind == 3:
        return np.repeat(rng.normal(size=4), m // 4 + 1)[:m]
    return np.exp(-(((np.arange(m) - m / 2) / (m / 10)) ** 2))


def absent(trials: int, seed: int) -> tuple[int, int, int, int]:
    """Searches with each default in data without the query: how many return a match (ours,
    STUMPY's), and how many matches they return in all."""
    rng = np.random.default_rng(seed)
    ours_any = ours_all = theirs_any = theirs_all = 0
    for trial in range(trials):
        n, m = 20000, int(rng.choice([32, 96, 200]))
        if trial % 2:
            data = np.cumsum(rng.normal(size=n))
        else:
            data = rng.normal(size=n) + 3.0 * np.sin(np.arange(n) / 50.0)
        query = absent_query(trial % 5, m, rng)
        ours = len(zorp_miner.find_matches(query, data))
        theirs = len(stumpy_search(query, data[None, :], None))
        ours_any, ours_all = ours_any + (ours > 0), ours_all + ours
        theirs_any, theirs_all = theirs_any + (theirs > 0), theirs_all + theirs
    return ours_any, ours_all, theirs_any, theirs_all


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument(
        "--sizes",
        default="1x10000,1x100000,1x1000000,100x10000",
        help="series x points of each data set (1x10000,1x100000,1x1000000,100x10000)",
    )
    parser.add_argument("--length", type=int, default=100, help="query length in points (100)")
    parser.add_argument("--radius", type=float, default=0.8, help="the radius (0.8)")
    parser.add_argument("--rounds", type=int, default=3, help="rounds of timing (3)")
    parser.add_argument("--seed", type=int, default=7, help="random seed (7)")
    parser.add_argument(
        "--absent", type=int, default=60, help="searches in data without the query (60)"
    )
    args = parser.parse_args()
    m = args.length
    zone = math.ceil(m / 4)
    sizes = [tuple(int(x) for x in size.split("x")) for size in args.sizes.split(",")]

    warm = np.cumsum(np.random.default_rng(0).normal(size=2000))
    stumpy().match(warm[:m], warm)  # compiles STUMPY's numba functions before any timing
    print(
        f"query of {m} points, radius {args.radius} (STUMPY: {args.radius * math.sqrt(m):.3f}), "
        f"exclusion zone {zone} points; best of {args.rounds} rounds; stumpy "
        f"{stumpy().__version__}, numba threads {os.environ['NUMBA_NUM_THREADS']}"
    )
    print()
    print(
        f"{'data':<16} {'ours':>7} {'stumpy':>7} {'same rank':>9} {'in both':>7} "
        f"{'ours s':>8} {'stumpy s':>9} {'ratio':>6} {'peak MiB':>13}"
    )
    defaults = []
    for count, points in sizes:
        data, query, places = planted(count, points, m, args.seed)
        rows = list(data)
        ours = zorp_miner.find_matches(query, rows, max_distance=args.radius, exclusion=zone)
        theirs = stumpy_search(query, data, args.radius)
        figures = measure(
            {
                "ours": lambda: zorp_miner.find_matches(
                    query, rows, max_distance=args.radius, exclusion=zone
                ),
                "stumpy": lambda: stumpy_search(query, data, args.radius),
            },
            args.rounds,
        )
        a, b = figures["ours"], figures["stumpy"]
        print(
            f"{f'{count} x {points}':<16} {compared(ours, theirs)} {a.seconds:>8.3f} "
            f"{b.seconds:>9.3f} {b.seconds / a.seconds:>6.1f} "
            f"{a.peak_mib:>6.0f} {b.peak_mib:>6.0f}"
        )
        default_ours = zorp_miner.find_matches(query, rows)
        default_theirs = [(i, start) for _, i, start in stumpy_search(query, data, None)]
        defaults.append((f"{count} x {points}", len(places), default_ours, default_theirs, places))
    print()
    print("each with its own defaults: matches, on a planted copy, copies found (of planted)")
    print(f"{'data':<16} {'planted':>7}   {'ours (radius)':<36} stumpy")
    for name, planted_count, default_ours, default_theirs, places in defaults:
        windows = list(zip(default_ours.series.tolist(), default_ours.starts.tolist()))
        ours_on, ours_found = on_plants(windows, places, m)
        theirs_on, theirs_found = on_plants(default_theirs, places, m)
        print(
            f"{name:<16} {planted_count:>7}   "
            f"{f'{len(windows)}, {ours_on}, {ours_found} ({default_ours.max_distance:.3f})':<36} "
            f"{len(default_theirs)}, {theirs_on}, {theirs_found}"
        )

    if args.absent:
        ours_any, ours_all, theirs_any, theirs_all = absent(args.absent, args.seed)
        print()
        print(
            f"{args.absent} searches in data without the query, each with its own defaults: "
            f"ours found a match in {ours_any} ({ours_all} matches in all), STUMPY in "
            f"{theirs_any} ({theirs_all} in all)"
        )


if __name__ == "__main__":
    main()
