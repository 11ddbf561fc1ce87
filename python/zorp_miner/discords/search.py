"""The exact search for discords: windows whose nearest neighbour is farthest (docs/discords.md).

Every window's nearest neighbour is bounded from above by any distance found to it, and two
windows' distance bounds both. A window is searched outward from itself in blocks of doubling
size on both sides; each block's distances lower the bounds of the windows in it, and the
search stops as soon as some window comes closer than the farthest nearest neighbour found
so far: that window cannot be the discord. Windows whose bound is already below that distance
are never searched. Only a window that survives the whole series has its nearest neighbour
computed exactly, so the discords are exact: those of the full matrix of distances.
"""

from __future__ import annotations

import math
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

from zorp_miner import progress as _progress
from zorp_miner._types import FloatArray
from zorp_miner.compute.sliding import SeriesBank, znormalised

IntArray = npt.NDArray[np.int64]
BoolArray = npt.NDArray[np.bool_]

FIRST_BLOCK = 4  # the first block searched on each side of a window, in window lengths
SMALLEST_BLOCK = 64  # and at least this many windows


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
    before it; all of them when top is None. A window with no usable neighbour is none."""
    bank = SeriesBank([values], m)
    windows = Prepared(bank, 0)
    n = windows.count
    bound = np.full(n, np.inf)  # the smallest distance found to each window so far
    exact = np.full(n, np.nan)  # the nearest neighbour's distance, where computed
    neighbour = np.full(n, -1, dtype=np.int64)
    open_ = windows.usable.copy()
    found: list[Found] = []
    wanted = n if top is None else top
    _progress.plan(min(wanted, n), whole=False)
    while len(found) < wanted:
        _progress.step(f"discord {len(found) + 1} of windows of {m} points")
        known = open_ & np.isfinite(exact)
        best, at = -1.0, -1
        if known.any():
            at = int(np.flatnonzero(known)[np.argmax(exact[known])])
            best = float(exact[at])
        for j in np.flatnonzero(open_ & np.isnan(exact) & (bound > best)).tolist():
            if not bound[j] > best:
                continue
            distance, nearest = _nearest(windows, j, exclusion, best, bound)
            if nearest < 0 and math.isinf(distance):
                open_[j] = False  # no usable window beyond its zone: no neighbour at all
                continue
            if math.isnan(distance):
                continue
            exact[j], neighbour[j] = distance, nearest
            if distance > best:
                best, at = distance, j
        if at < 0:
            break
        found.append(Found(0, at, best, 0, int(neighbour[at])))
        open_[max(0, at - m + 1) : at + m] = False
    return found


def _nearest(windows: Prepared, j: int, exclusion: int, best: float, bound: FloatArray) -> tuple[float, int]:
    """Window j's nearest neighbour beyond the exclusion zone (distance, start), searched
    outward in doubling blocks; NaN for the distance when some window comes within best first
    (j is then no discord). Every distance found lowers both windows' bounds."""
    n, m = windows.count, windows.m
    shape = windows.shape(j)
    right = j + exclusion + 1  # the next window to search on the right
    left = j - exclusion - 1  # and on the left
    size = max(SMALLEST_BLOCK, FIRST_BLOCK * m)
    closest, nearest = math.inf, -1
    while right < n or left >= 0:
        for first, last in ((right, min(n - 1, right + size - 1)), (max(0, left - size + 1), left)):
            if first > last or last < 0 or first >= n:
                continue
            d = windows.distances(shape, first, last)
            np.minimum(bound[first : last + 1], d, out=bound[first : last + 1])
            k = int(np.argmin(d))
            if d[k] < closest:
                closest, nearest = float(d[k]), first + k
        right += size
        left -= size
        bound[j] = min(bound[j], closest)
        if closest <= best:
            return math.nan, nearest
        size *= 2
    return closest, nearest


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
