"""The robust mode's per-series steps: the tasks a `RobustStore` runs on every part, each on
that part's series alone, the cache in which a part held in this process keeps what they
prepared, and the functions that add the parts' results up."""

from __future__ import annotations

import math
from collections.abc import Callable
from typing import TypeVar, cast

import numpy as np
import numpy.typing as npt

from zorp_miner import _native
from zorp_miner.compute import threads as _threads
from zorp_miner.compute.evidence import content_key, shuffled
from zorp_miner.compute.shapes import paa, unit
from zorp_miner.compute.sliding import FLAT_FRACTION, LEVELS, RESOLUTION, SeriesBank, resolution
from zorp_miner._types import FloatArray, IntArray

T = TypeVar("T")

# Which series a step reads: the series themselves (SERIES), or a null of them, (segment
# length, draw): their segments of that many points shuffled in the draw's order.
Null = tuple[int, int]
SERIES: Null = (0, 0)

WINDOWS_PER_SERIES = 4096  # at most this many proposal windows per series


def window_words(
    series: list[FloatArray], m: int, letters: int, steps: list[float] | None = None
) -> tuple[IntArray, IntArray, FloatArray]:
    """Owner series, start (points) and z-normalised segment means of the proposal windows;
    steps: each series' resolution (see `_steps`), their own when None.

    A window's means are those of its ``letters`` segments of m // letters points after
    z-normalising the window (the tail beyond letters x seglen is left out), computed in the
    native module from the series divided by their largest magnitude, on the run's threads.
    Windows are taken every max(1, m // 16) points, fewer in a series with more than
    WINDOWS_PER_SERIES of them; windows with a NaN or without a shape (flat) are left out.
    """
    points = float(sum(len(one) for one in series))
    return _native.window_words(
        [np.ascontiguousarray(one, dtype=np.float64) for one in series],
        m,
        letters,
        None if steps is None else np.asarray(steps, dtype=np.float64),
        WINDOWS_PER_SERIES,
        FLAT_FRACTION,
        RESOLUTION,
        float(LEVELS),
        threads=_threads.for_work(48.0 * points),
    )


KeyTable = list[tuple[npt.NDArray[np.uint64], IntArray, IntArray]]


def added_counts(total: list[KeyTable] | None, part: list[KeyTable]) -> list[KeyTable] | None:
    """A part's key counts (one table per alphabet) added to the total of the parts before."""
    if total is None:
        return part
    return [_merged_counts([a, b]) for a, b in zip(total, part)]


def _merged_counts(tables: list[KeyTable]) -> KeyTable:
    """The key counts of the tables added up, per projection (keys ascending): integer sums,
    the same in any order and grouping."""
    merged: KeyTable = []
    for projection in range(len(tables[0])):
        keys = np.concatenate([table[projection][0] for table in tables])
        unique, inverse = np.unique(keys, return_inverse=True)
        windows = np.zeros(len(unique), np.int64)
        series = np.zeros(len(unique), np.int64)
        np.add.at(windows, inverse, np.concatenate([table[projection][1] for table in tables]))
        np.add.at(series, inverse, np.concatenate([table[projection][2] for table in tables]))
        merged.append((unique.astype(np.uint64), windows, series))
    return merged
def shifts(m: int) -> IntArray:
    """The shifts (points) at which windows of m points are realigned: the multiples of m // 32
    from -m/2 to m/2, 0 among them (a window that cannot move is still averaged)."""
    step = max(1, m // 32)
    reach = (m // 2) // step
    return step * np.arange(-reach, reach + 1, dtype=np.int64)


Cache = dict[object, object] | None


def _cached(cache: Cache, key: tuple[object, ...], make: Callable[[], T]) -> T:
    """What make() gives, kept in cache under key[0] while the rest of key stays the same."""
    if cache is None:
        return make()
    held = cache.get(key[0])
    if isinstance(held, tuple) and held[0] == key[1:]:
        return cast(T, held[1])
    value = make()
    cache[key[0]] = (key[1:], value)
    return value


def keys_task(series: list[FloatArray], first: int, cache: Cache = None) -> list[int]:
    # A stable sort and a hash per series, some 20 operations a point, each letting the other
    # threads run: on the run's threads (4,000 series of 10,000 points: 2.0 s on one, 1.0 s on
    # two).
    work = 20.0 * float(sum(len(values) for values in series))
    return _cached(cache, ("keys",), lambda: _threads.map_each(content_key, series, work))


def _steps(series: list[FloatArray], first: int, cache: Cache, local: list[int] | None) -> list[float]:
    """The resolution of the part's series at the positions local (all when None): a null of a
    series, whose joins move its points off the series' steps, has the series' resolution."""
    held = _cached(cache, ("steps",), lambda: [resolution(values) for values in series])
    return held if local is None else [held[i] for i in local]


def _unit_step(step: float, values: FloatArray) -> float:
    """A resolution of values in the units of ``unit_scaled(values)``."""
    return step / unit(values)


def _part_series(
    series: list[FloatArray], first: int, null: Null, cache: Cache, local: list[int] | None = None
) -> list[FloatArray]:
    """The part's series at the positions local (all of them when None), or a null of them
    (see `Null` and `_evidence.shuffled`). A null series is made when first wanted: the
    searches read the null of the sample's series only."""
    if null == SERIES:
        return series if local is None else [series[i] for i in local]
    keys = keys_task(series, first, cache)
    made: dict[int, FloatArray] = _cached(cache, ("null", null), dict)
    out = []
    for i in range(len(series)) if local is None else local:
        if i not in made:
            made[i] = shuffled(series[i], null[0], keys[i], null[1])
        out.append(made[i])
    return out


def _series_at(
    series: list[FloatArray], first: int, null: Null, cache: Cache, indexes: list[int]
) -> dict[int, FloatArray]:
    """The series (or a null of them) of the given indexes (of the whole set), by index."""
    wanted = sorted(set(indexes))
    return dict(zip(wanted, _part_series(series, first, null, cache, [index - first for index in wanted])))


def best_task(
    series: list[FloatArray],
    first: int,
    rows: list[int] | None,
    m: int,
    factor: int,
    shapes: FloatArray,
    starts: bool,
    null: Null,
    cache: Cache = None,
) -> tuple[IntArray | None, FloatArray]:
    local = None if rows is None else [index - first for index in rows]

    def bank() -> SeriesBank:
        values = _part_series(series, first, null, cache, local)
        steps = _steps(series, first, cache, local)
        if factor > 1:
            averaged = [paa(s, factor) for s in values]
            return SeriesBank(averaged, m, [_unit_step(q, s) for q, s in zip(steps, values)])
        return SeriesBank(values, m, steps)

    # A bank of the rows asked only (a series' matches do not depend on the others in its
    # bank): the searches ask for the sample's series, kept apart from the whole part's.
    chosen = None if local is None else tuple(local)
    held = _cached(cache, (("bank", factor, null, chosen is None), m, chosen), bank)
    found_starts, found_best = held.best(shapes)
    return (found_starts if starts else None), found_best


RealignSums = list[tuple[IntArray, npt.NDArray[np.bool_]] | None]


def realignment_task(
    series: list[FloatArray],
    first: int,
    groups: list[tuple[IntArray, IntArray, float]],
    m: int,
    null: Null,
    cache: Cache = None,
) -> RealignSums:
    """For each (members, starts, scale) of groups, the members' windows of m points at every
    shift (`shifts`) from their starts, each z-normalised and added up in fixed point at scale
    (``_native.realignment_sums``: each point clipped to within sqrt(m) of 0, a window with a
    NaN counted as 0), and whether every member's window at a shift is usable (finite, not
    flat); None for a group without members here. A window is read m // 2 points either side of
    its start (NaN off the series), and scaled by its largest magnitude first, so that neither
    tiny nor huge values lose their shape."""
    half, step = m // 2, max(1, m // 32)
    values = _series_at(series, first, null, cache, [int(i) for members, _, _ in groups for i in members])
    held = [(members, starts, scale) for members, starts, scale in groups if len(members)]
    if not held:
        return [None] * len(groups)
    places = [
        (0, index, start - half, start + m + half)
        for members, starts, _ in held
        for index, start in zip(members.tolist(), starts.tolist())
    ]
    # The first shift is the multiple of step nearest -half: the window unshifted is one.
    # About ten operations per point of a window at each shift.
    shifted = len(places) * (2 * half // step + 1) * m
    totals, usable = _native.realignment_sums(
        _window_rows(values, places, m + 2 * half),
        np.array([len(members) for members, _, _ in held], dtype=np.int64),
        np.array([scale for _, _, scale in held]),
        m, half % step, step, math.sqrt(m),
        threads=_threads.for_work(10.0 * shifted),
    )
    sums = iter(zip(totals, usable))
    return [next(sums) if len(members) else None for members, _, _ in groups]


def added_sums(total: RealignSums | None, part: RealignSums) -> RealignSums:
    """A part's realignment sums added to those of the parts before (integers: exact)."""
    if total is None:
        return part
    return [
        b if a is None else a if b is None else (a[0] + b[0], a[1] & b[1])
        for a, b in zip(total, part)
    ]


def windows_task(
    series: list[FloatArray], first: int, places: list[tuple[int, int, int, int]], null: Null, cache: Cache = None
) -> list[FloatArray]:
    return _windows_of(_series_at(series, first, null, cache, [index for _, index, _, _ in places]), places)


def _windows_of(values: dict[int, FloatArray], places: list[tuple[int, int, int, int]]) -> list[FloatArray]:
    """The points lo to hi of series index for each (_, index, lo, hi) of places, NaN where
    the series (values, by index) has none."""
    widths = {hi - lo for _, _, lo, hi in places}
    if len(widths) == 1 and min(widths) > 0:
        return list(_window_rows(values, places, widths.pop()))
    out = []
    for _, index, lo, hi in places:
        one = values[index]
        window = np.full(hi - lo, np.nan)
        a, b = max(lo, 0), min(hi, len(one))
        if b > a:
            window[a - lo : b - lo] = one[a:b]
        out.append(window)
    return out


def _window_rows(values: dict[int, FloatArray], places: list[tuple[int, int, int, int]], width: int) -> FloatArray:
    """`_windows_of` for places all width points wide, as rows of one array, gathered at once
    from the series laid end to end between runs of NaN (a realignment reads thousands)."""
    indices = [index for _, index, _, _ in places]
    los = np.array([lo for _, _, lo, _ in places], dtype=np.int64)
    length = {index: len(values[index]) for index in sorted(set(indices))}
    # NaN enough either side of every series for the farthest window off it.
    pad = max(0, -int(los.min()), max(lo + width - length[index] for index, lo in zip(indices, los.tolist())))
    pieces: list[FloatArray] = [np.full(pad, np.nan)]
    offset = {}
    at = pad
    for index, points in length.items():
        offset[index] = at
        pieces += [values[index], np.full(pad, np.nan)]
        at += points + pad
    laid = np.concatenate(pieces)
    starts = np.array([offset[index] for index in indices], dtype=np.int64) + los
    return np.asarray(np.lib.stride_tricks.sliding_window_view(laid, width)[starts])


def proposal_windows(
    series: list[FloatArray],
    first: int,
    m: int,
    letters: int,
    rows: frozenset[int] | None,
    null: Null,
    cache: Cache,
) -> tuple[IntArray, IntArray, FloatArray]:
    def windows() -> tuple[IntArray, IntArray, FloatArray]:
        chosen = [i for i in range(len(series)) if rows is None or first + i in rows]
        values = _part_series(series, first, null, cache, chosen)
        owners, starts, means = window_words(values, m, letters, _steps(series, first, cache, chosen))
        return np.array(chosen, dtype=np.int64)[owners] + first, starts, means

    return _cached(cache, ("windows", m, letters, rows, null), windows)


def count_task(
    series: list[FloatArray],
    first: int,
    m: int,
    letters: int,
    alphabets: tuple[int, ...],
    rows: frozenset[int] | None,
    null: Null,
    cache: Cache = None,
) -> list[KeyTable]:
    owners, starts, means = proposal_windows(series, first, m, letters, rows, null, cache)
    threads = _threads.for_work(_key_work(means))
    return [_native.count_keys(owners, starts, means, alphabet, threads=threads) for alphabet in alphabets]


def _key_work(means: FloatArray) -> float:
    """The work of a pass over the proposal windows' keys: each window's letters, for every
    projection (about ten operations each)."""
    letters = means.shape[1] if means.ndim == 2 else 0
    return 10.0 * means.size * (letters + 1)


def members_task(
    series: list[FloatArray],
    first: int,
    m: int,
    letters: int,
    alphabet: int,
    projections: IntArray,
    keys: npt.NDArray[np.uint64],
    rows: frozenset[int] | None,
    null: Null,
    cache: Cache = None,
) -> tuple[IntArray, npt.NDArray[np.uint64], IntArray]:
    owners, starts, means = proposal_windows(series, first, m, letters, rows, null, cache)
    threads = _threads.for_work(_key_work(means))
    return _native.sum_members(owners, starts, means, alphabet, projections, keys, threads=threads)


def nearest_task(
    series: list[FloatArray],
    first: int,
    m: int,
    letters: int,
    alphabet: int,
    projections: IntArray,
    keys: npt.NDArray[np.uint64],
    averages: FloatArray,
    rows: frozenset[int] | None,
    null: Null,
    cache: Cache = None,
) -> tuple[FloatArray, list[tuple[int, int, str] | None]]:
    owners, starts, means = proposal_windows(series, first, m, letters, rows, null, cache)
    squares, windows = _native.nearest_members(
        owners, starts, means, alphabet, projections, keys, averages,
        threads=_threads.for_work(_key_work(means)),
    )
    places: list[tuple[int, int, str] | None] = [
        None
        if w < 0
        else (int(owners[w]), int(starts[w]), _native.proposal_word(means[w], alphabet, int(projections[e])))
        for e, w in enumerate(windows.tolist())
    ]
    return squares, places
