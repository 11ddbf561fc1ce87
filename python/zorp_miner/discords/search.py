"""The exact search for discords: windows whose nearest neighbour is farthest (docs/discords.md).

Every window's nearest neighbour is bounded from above by any distance found to it, and two
windows' distance bounds both. A window is searched (outward from itself in blocks of doubling
size within a series, series by series across a set) until some window comes closer than the
farthest nearest neighbour found so far: that window cannot be the discord. Windows whose bound
is already below that distance are never searched. Only a window that survives the whole
search has its nearest neighbour computed exactly, so the discords are exact: those of the full
matrix of distances.
"""

from __future__ import annotations

import math
from dataclasses import dataclass

import numpy as np

from zorp_miner import _native
from zorp_miner import progress as _progress
from zorp_miner.compute import threads as _threads
from zorp_miner._types import FloatArray
from zorp_miner.compute.sliding import SeriesBank, znormalised




@dataclass(frozen=True)
class Found:
    """One discord: its series and start, the distance to its nearest neighbour (sqrt(2 (1 -
    r))), and that neighbour's series and start."""

    series: int
    start: int
    distance: float
    neighbour_series: int
    neighbour_start: int


class Prepared:
    """One series' windows of m points, ready for blocks of distances to a shape."""

    def __init__(self, bank: SeriesBank, i: int) -> None:
        self.values = bank.values[i]
        self.weights = bank.weights[i]
        self.usable = bank.usable[i]
        self.count = len(self.usable)
        self.m = bank.m

    def shape(self, start: int) -> FloatArray:
        """The z-normalised window at start."""
        return znormalised(self.values[start : start + self.m])

    def distances(self, shape: FloatArray, first: int, last: int) -> FloatArray:
        """The distances of shape to the windows first..last (inclusive); +inf where a window
        is unusable (a missing point, flat)."""
        dots = np.correlate(self.values[first : last + self.m], shape, mode="valid")
        r = np.clip(dots * self.weights[first : last + 1], -1.0, 1.0)
        d = np.sqrt(2.0 * (1.0 - r))
        d[~self.usable[first : last + 1]] = np.inf
        return d


def within_series(values: FloatArray, m: int, exclusion: int, top: int | None) -> list[Found]:
    """The top discords of one series: windows of m points, in decreasing distance to their
    nearest neighbour more than ``exclusion`` points away, each at least m points from those
    before it; all of them when top is None. A window with no usable neighbour is none. The
    search is the native module's (`zorp_miner._native.within_discords`): a window is searched
    outward from itself in blocks of doubling size, after the window next to the one the
    previous window came closest to (neighbours run along diagonals)."""
    bank = SeriesBank([values], m)
    windows = len(bank.usable[0])
    wanted = windows if top is None else min(top, windows)
    _progress.plan(1)
    _progress.step(f"discords of windows of {m} points")
    starts, neighbours, distances = _native.within_discords(
        bank.values[0], bank.weights[0], m, exclusion, wanted, threads=_threads.current()
    )
    return [
        Found(0, int(start), float(distance), 0, int(neighbour))
        for start, neighbour, distance in zip(starts.tolist(), neighbours.tolist(), distances.tolist())
    ]


def across_series(series: list[FloatArray], m: int, top: int | None) -> list[Found]:
    """Each series' discord across a set: its window whose nearest window in the other series
    is farthest, the series in decreasing distance; the first top of them, all when None. A
    series with no usable window, or none in the others, has none."""
    bank = SeriesBank(series, m)
    prepared = [Prepared(bank, i) for i in range(len(series))]
    bounds = [np.full(one.count, np.inf) for one in prepared]
    found: list[Found] = []
    _progress.plan(len(series), whole=False)
    for s, windows in enumerate(prepared):
        _progress.step(f"series {s}: its discord of {m} points")
        others = [t for t in list(range(s + 1, len(series))) + list(range(s)) if prepared[t].count > 0]
        best: Found | None = None
        for j in np.flatnonzero(windows.usable).tolist():
            if best is not None and not bounds[s][j] > best.distance:
                continue
            shape = windows.shape(j)
            closest, where = math.inf, (-1, -1)
            for t in others:
                d = prepared[t].distances(shape, 0, prepared[t].count - 1)
                np.minimum(bounds[t], d, out=bounds[t])
                k = int(np.argmin(d))
                if d[k] < closest:
                    closest, where = float(d[k]), (t, k)
                if best is not None and closest <= best.distance:
                    break
            bounds[s][j] = min(bounds[s][j], closest)
            if math.isfinite(closest) and (best is None or closest > best.distance):
                best = Found(s, j, closest, where[0], where[1])
        if best is not None:
            found.append(best)
    found.sort(key=lambda one: (-one.distance, one.series))
    return found if top is None else found[:top]
