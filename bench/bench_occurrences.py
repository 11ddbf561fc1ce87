"""Every copy of a motif: how many planted copies `Motif.occurrences` lists with its default
radius, and how many windows it lists in series that do not hold the shape.

The sets (rules fixed before any figure was seen): for each of three shapes of 60 points
(smooth: three cycles of a sine under a Hann window; square: four levels; spiky: three narrow
peaks) and two backgrounds (random walks of Gaussian steps, white noise), ``--seeds`` seeds;
each set holds 20 series of 2,000 points, of which the first 16 hold the shape two or three
times (in separate slots) and the last 4 do not. A copy is the shape times a scale drawn from
1 to 3 (10 times that on walks, 3 times on noise) plus N(0, 1) noise per point, added to the
background. A set counts when `find_motifs(data, length=60, top=3)` reports a motif whose best
match overlaps a copy by at least half its length in at least half of the 16 series: the first
such motif is the one measured (the others are reported as missed, and their copies are not
counted).

For that motif, each radius lists windows: a copy is found when a window overlaps it by at
least half; a window elsewhere in the 16 series, or any window in the 4, is not a copy. The
radii: ``default`` (what `motif.occurrences(data)` uses), and for comparison the motif's loosest
best match, `find_matches`' chance radius (`find_matches(motif.representative, data)`), and
the best any radius can do without taking a window off the copies (``no false window``): just
below the closest window that overlaps no copy by half, found knowing where the copies are.

    .venv/bin/python bench/bench_occurrences.py [--seeds 5]
"""

from __future__ import annotations

import argparse
import math
import time
from dataclasses import dataclass, field

import numpy as np
import numpy.typing as npt

import zorp_miner
from zorp_miner.search.matches import search
from zorp_miner.cluster.parts import LocalParts

M = 60
POINTS = 2000
HOLDING = 16
WITHOUT = 4


def shape_of(kind: str) -> npt.NDArray[np.float64]:
    t = np.linspace(0.0, 1.0, M)
    if kind == "smooth":
        return np.hanning(M) * np.sin(6.0 * np.pi * t)
    if kind == "square":
        return np.repeat([0.0, 1.0, -0.5, 0.5], M // 4)
    if kind == "spiky":
        out = np.zeros(M)
        for centre, height in ((12, 1.0), (30, -0.8), (48, 1.0)):
            out += height * np.exp(-0.5 * ((np.arange(M) - centre) / 1.5) ** 2)
        return out
    raise ValueError(kind)


def planted_set(kind: str, background: str, seed: int) -> tuple[npt.NDArray[np.float64], list[list[int]]]:
    rng = np.random.default_rng([seed, ["smooth", "square", "spiky"].index(kind), ["walk", "noise"].index(background)])
    steps = rng.normal(size=(HOLDING + WITHOUT, POINTS))
    data = np.cumsum(steps, axis=1) if background == "walk" else steps
    amplitude = 10.0 if background == "walk" else 3.0
    shape = shape_of(kind)
    slots = POINTS // (3 * M)  # slots of 3 m points: copies never touch
    copies: list[list[int]] = []
    for row in range(HOLDING):
        chosen = np.sort(rng.permutation(slots)[: int(rng.integers(2, 4))])
        starts = [int(3 * M * slot + rng.integers(0, 2 * M)) for slot in chosen]
        for start in starts:
            data[row, start : start + M] += amplitude * rng.uniform(1.0, 3.0) * shape + rng.normal(size=M)
        copies.append(starts)
    copies += [[] for _ in range(WITHOUT)]
    return data, copies


@dataclass
class Tally:
    copies: int = 0
    found: int = 0
    elsewhere: int = 0  # windows in the holding series off every copy
    in_without: int = 0  # windows in the series without the shape
    radii: list[float] = field(default_factory=list)

    def add(self, series: npt.NDArray[np.int64], starts: npt.NDArray[np.int64], copies: list[list[int]], radius: float) -> None:
        self.radii.append(radius)
        for row, planted in enumerate(copies):
            taken = starts[series == row].tolist()
            if not planted:
                self.in_without += len(taken)
                continue
            self.copies += len(planted)
            self.found += sum(any(abs(s - c) <= M // 2 for s in taken) for c in planted)
            self.elsewhere += sum(not any(abs(s - c) <= M // 2 for c in planted) for s in taken)

    def line(self, name: str) -> str:
        share = 100.0 * self.found / self.copies if self.copies else math.nan
        return (
            f"{name:<16} {self.found:>5}/{self.copies:<5} {share:6.1f} %   elsewhere {self.elsewhere:>4}   "
            f"in series without {self.in_without:>4}   median radius {np.median(self.radii):.3f}"
        )


def measured(motifs: zorp_miner.Motifs, copies: list[list[int]]) -> zorp_miner.Motif | None:
    for motif in motifs:
        on = sum(
            1
            for row, start in zip(motif.series.tolist(), motif.best_matches.tolist())
            if any(abs(start - c) <= M // 2 for c in copies[row])
        )
        if 2 * on >= HOLDING:
            return motif
    return None


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seeds", type=int, default=5, help="seeds per shape and background (5)")
    args = parser.parse_args()
    tallies = {name: Tally() for name in ("default", "loosest best", "chance", "no false window")}
    missed: list[str] = []
    began = time.perf_counter()
    for kind in ("smooth", "square", "spiky"):
        for background in ("walk", "noise"):
            for seed in range(args.seeds):
                data, copies = planted_set(kind, background, seed)
                motif = measured(zorp_miner.find_motifs(data, length=M, top=3, progress=False), copies)
                if motif is None:
                    missed.append(f"{kind}/{background}/{seed}")
                    continue
                found = motif.occurrences(data, progress=False)
                tallies["default"].add(found.series, found.starts, copies, found.max_distance)
                loosest = motif.occurrences(data, max_distance=float(motif.distances.max()) + 1e-9, progress=False)
                tallies["loosest best"].add(loosest.series, loosest.starts, copies, loosest.max_distance)
                chance = search(LocalParts(list(data)), np.array(motif.representative), max_distance=None, exclusion=M - 1, top=None)
                tallies["chance"].add(chance.series, chance.starts, copies, chance.max_distance)
                every = search(LocalParts(list(data)), np.array(motif.representative), max_distance=math.inf, exclusion=0, top=None)
                off = [
                    d
                    for row, start, d in zip(every.series.tolist(), every.starts.tolist(), every.distances.tolist())
                    if not any(abs(start - c) <= M // 2 for c in copies[row])
                ]
                below = np.nextafter(min(off), 0.0)
                clean = search(LocalParts(list(data)), np.array(motif.representative), max_distance=below, exclusion=M - 1, top=None)
                tallies["no false window"].add(clean.series, clean.starts, copies, below)
    sets = 6 * args.seeds
    print(f"{sets} sets of {HOLDING} + {WITHOUT} series of {POINTS} points, shapes of {M} points; "
          f"{sets - len(missed)} found ({time.perf_counter() - began:.0f} s)")
    if missed:
        print("missed: " + ", ".join(missed))
    print(f"{'radius':<16} copies found            windows off the copies")
    for name, tally in tallies.items():
        print(tally.line(name))
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
