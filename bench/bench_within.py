"""Motifs within one long series: zorp_miner.find_motifs against STUMPY's stump + motifs.

Two kinds of data. A random walk (Gaussian steps) of 10^4 and 10^5 points with a 100-point
shape (four steps, as bench_matches.py plants, a little noise on each copy) added at 10 places
at least two lengths apart; and two recordings that ship inside the aeon 1.6.0 wheel
(``bench/data-requirements.txt``, read from the installed files, never downloaded): the
InternalBleeding16 test series of the KDD anomaly archive (7,501 points of a physiological
pressure signal) and the ecg-diff-count-3 test series (10,000 points of ECG), motif length 100
points for both.

For each series both look for motifs with STUMPY's exclusion zone, ceil(m / 4) points, so
that both answer the same question: ``find_motifs(series, length=m, exclusion=ceil(m / 4))``
(within the series, the evidence's 39 shuffles included; a series gives its ten motifs whatever
``top`` is, so this is the time of ``top=1`` too) and STUMPY's ``stump`` then
``motifs(max_motifs=1)``, each with its own radius for the motif's other windows. The figures:
each one's closest pair (ours: the smallest score of its motifs; STUMPY's: its top pair) and
its distance (on find_motifs' scale sqrt(2 (1 - r)); STUMPY's are
sqrt(m) times larger), whether the pairs are the same windows, how many of the planted copies
the top motif's windows cover (a window within m / 2 of a copy's start), find_motifs' top
motif's windows and evidence (likely from 3), and the times. STUMPY's
numba functions are compiled by a first call before any timing; numba runs on one thread, as
numpy does. One round each (the 10^5-point self-join takes minutes).

    .venv/bin/python bench/bench_within.py [--sizes 10000,100000] [--no-recordings]
"""

from __future__ import annotations

import argparse
import csv
import importlib.util
import math
import os

os.environ.setdefault("NUMBA_NUM_THREADS", "1")

import sys  # noqa: E402
import time  # noqa: E402
from pathlib import Path  # noqa: E402
from typing import Any  # noqa: E402

import numpy as np  # noqa: E402
import numpy.typing as npt  # noqa: E402

sys.path.insert(0, str(Path(__file__).parent))

from bench_matches import on_plants  # noqa: E402

import zorp_miner  # noqa: E402

FloatArray = npt.NDArray[np.float64]
LENGTH = 100
COPIES = 10
# The recordings: (name, file inside aeon/datasets/data, column).
RECORDINGS = (
    ("InternalBleeding16", "KDD-TSAD_135/135_UCR_Anomaly_InternalBleeding16_TEST.csv", "value"),
    ("ecg-diff-count-3", "UnitTest/ecg-diff-count-3_TEST.csv", "value-0"),
)


def stumpy() -> Any:
    import stumpy as module

    return module


def planted(points: int, m: int, seed: int) -> tuple[FloatArray, list[int]]:
    """A random walk with COPIES copies of a step shape added (with noise), at least 2 m apart;
    the walk and the copies' starts."""
    rng = np.random.default_rng(seed)
    values = np.cumsum(rng.normal(size=points))
    shape = np.repeat([0.0, 2.0, -1.0, 1.0], m // 4) * 2.0 * math.sqrt(m)
    slots = rng.choice((points - m) // (2 * m), size=COPIES, replace=False)
    starts = sorted(2 * m * int(slot) + int(rng.integers(0, m)) for slot in slots)
    for start in starts:
        values[start : start + m] += shape + rng.normal(scale=0.1 * math.sqrt(m), size=m)
    return values, starts


def recording(file: str, column: str) -> FloatArray:
    """One column of a CSV file inside the installed aeon wheel."""
    spec = importlib.util.find_spec("aeon")
    if spec is None or spec.origin is None:
        raise SystemExit("the recordings come from the aeon wheel: pip install --no-deps -r bench/data-requirements.txt")
    path = Path(spec.origin).parent / "datasets" / "data" / file
    with path.open(newline="") as handle:
        return np.array([float(row[column]) for row in csv.DictReader(handle)])


def ours(values: FloatArray, m: int) -> tuple[tuple[int, int], float, list[int], float, float]:
    """find_motifs' closest pair (the smallest score of its motifs), its distance, the top
    motif's windows, the time (s) and the top motif's evidence. Every motif is asked for: the
    series gives its ten motifs whatever ``top`` is, so this takes the time of ``top=1``; the
    top motif, ranked by evidence, need not be the closest pair."""
    start = time.perf_counter()
    motifs = zorp_miner.find_motifs(values, length=m, exclusion=math.ceil(m / 4))
    took = time.perf_counter() - start
    top, closest = motifs[0], min(motifs, key=lambda motif: motif.score)
    a, b = sorted(closest.best_matches[:2].tolist())
    return (a, b), closest.score, top.best_matches.tolist(), took, top.evidence


def theirs(values: FloatArray, m: int) -> tuple[tuple[int, int], float, list[int], float]:
    """STUMPY's top pair (the smallest of its matrix profile and that window's neighbour), its
    distance on find_motifs' scale, its top motif's windows, and the time of stump + motifs."""
    start = time.perf_counter()
    profile = stumpy().stump(values, m)
    _, indices = stumpy().motifs(values, profile[:, 0].astype(np.float64), max_motifs=1)
    took = time.perf_counter() - start
    distances = profile[:, 0].astype(np.float64)
    a = int(np.argmin(distances))
    pair = (min(a, int(profile[a, 1])), max(a, int(profile[a, 1])))
    windows = [int(i) for i in indices[0] if i >= 0] if len(indices) else []
    return pair, float(distances[a]) / math.sqrt(m), windows, took


def row(name: str, values: FloatArray, m: int, plants: list[int] | None) -> str:
    mine, mine_d, mine_windows, mine_s, evidence = ours(values, m)
    other, other_d, other_windows, other_s = theirs(values, m)
    if plants is None:
        hits = f"{'-':>6} {'-':>6}"
    else:
        places = [(0, p) for p in plants]
        covered = [on_plants([(0, w) for w in found], places, m)[1] for found in (mine_windows, other_windows)]
        hits = f"{covered[0]:>3}/{COPIES:<2} {covered[1]:>3}/{COPIES:<2}"
    same = "yes" if mine == other else "no"
    return (
        f"{name:<22} {len(values):>7} {str(mine):>15} {str(other):>15} {same:>4} {mine_d:>8.4f} "
        f"{other_d:>8.4f} {hits} {len(mine_windows):>4} {evidence:>6.2f} {mine_s:>8.2f} {other_s:>9.2f} {other_s / mine_s:>6.1f}"
    )


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sizes", default="10000,100000", help="points of the planted walks")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--no-recordings", action="store_true", help="the planted walks only")
    args = parser.parse_args()
    stumpy().stump(np.cumsum(np.random.default_rng(0).normal(size=1000)), LENGTH)  # compiles
    print(
        f"motif length {LENGTH} points, exclusion zone {math.ceil(LENGTH / 4)} points; stumpy {stumpy().__version__}, numba threads "
        f"{os.environ['NUMBA_NUM_THREADS']}; zorp_miner {zorp_miner.__version__}\n"
    )
    print(
        f"{'data':<22} {'points':>7} {'ours pair':>15} {'stumpy pair':>15} {'same':>4} "
        f"{'ours d':>8} {'stumpy d':>8} {'ours':>6} {'stumpy':>6} {'wins':>4} {'evid':>6} {'ours s':>8} {'stumpy s':>9} "
        f"{'ratio':>6}"
    )
    for points in (int(size) for size in args.sizes.split(",")):
        values, plants = planted(points, LENGTH, args.seed)
        print(row(f"walk, {COPIES} copies", values, LENGTH, plants), flush=True)
    if not args.no_recordings:
        for name, file, column in RECORDINGS:
            print(row(name, recording(file, column), LENGTH, None), flush=True)


if __name__ == "__main__":
    main()
