"""Search by example: where a given shape (the query) occurs in a set of series.

:func:`find_matches` slides the query over every series and returns each window whose
z-normalised distance to it (sqrt(2 (1 - r)), the robust mode's) is within a radius, closest
first, no two within ``exclusion`` points of each other in a series; by default the radius is
chance's, from shapes as smooth and as trending as the query but not it. The work is
:func:`search`, over a set held in parts, each series on its own, so that a run on a Dask
cluster gives the bytes of a run in one process. The method: docs/search.md.
"""


import math
import numbers
import sys
from collections.abc import Callable
from dataclasses import dataclass
from typing import TYPE_CHECKING

import numpy as np

from zorp_miner.compute import threads as _threads
from zorp_miner import progress as _progress
from zorp_miner._extras import require
from zorp_miner.cluster.parts import LocalParts, Parts
from zorp_miner.run.cluster import opened
from zorp_miner.run.data import on_parts, series_here
from zorp_miner.compute.sliding import SeriesBank, znormalised
from zorp_miner._interface import plural
from zorp_miner._types import FloatArray, IntArray, JSONValue
from zorp_miner._version import __version__
from zorp_miner.io.inputs import as_array, as_floats
from zorp_miner.params import checked_count, INT32_MAX, LENGTH_MIN, RealNumber, WholeNumber, whole_number

if TYPE_CHECKING:
    import pandas
    from distributed import Client


# Phase-scrambled copies of the query matched to set the default radius, and the factor of
# the smallest distance they reach that makes the radius (see the module's description).
CHANCE_SHAPES = 4
CHANCE_FACTOR = 0.8
CHANCE_SEED = 20261208
# The columns of Matches.to_frame(), in order.
FRAME_COLUMNS = ["series", "start", "distance"]


@dataclass(frozen=True, eq=False, repr=False)
class Matches:
    """The windows of a set of series that match a query, best (closest) first.

    Attributes
    ----------
    series : numpy.ndarray of int64
        The series of each match, numbered by position in the data.
    starts : numpy.ndarray of int64
        The start of each match, in points; a match covers ``length`` points from there.
    distances : numpy.ndarray of float64
        The z-normalised distance of each match to the query, sqrt(2 (1 − r)) (r the Pearson
        correlation): 0 for the same shape, about 1.41 unrelated, 2 a mirror image; ascending.
    query : numpy.ndarray of float64
        The query, as given (``length`` points).
    max_distance : float
        The radius used: the one given, or the default one (see :func:`find_matches`).
    exclusion : int
        No two matches of a series start within this many points of each other.
    top : int or None
        The most matches asked for; None for all.
    series_lengths : numpy.ndarray of int64
        The points of every series of the data.
    closest : float
        The smallest distance of any window of the data to the query, within the radius or
        not (inf when no window is whole and has a shape): with no match, how far the radius
        would have to reach for one.
    """

    series: IntArray
    starts: IntArray
    distances: FloatArray
    query: FloatArray
    max_distance: float
    exclusion: int
    top: int | None
    series_lengths: IntArray
    closest: float

    def __post_init__(self) -> None:
        # Own read-only copies: neither the caller nor a reader can change a result.
        for field, dtype in (
            ("series", np.int64),
            ("starts", np.int64),
            ("distances", np.float64),
            ("query", np.float64),
            ("series_lengths", np.int64),
        ):
            array = np.array(getattr(self, field), dtype=dtype)
            array.setflags(write=False)
            object.__setattr__(self, field, array)

    def __setstate__(self, state: dict[str, object]) -> None:
        # Unpickled and deep-copied arrays are fresh and writable: read-only, as built.
        self.__dict__.update(state)
        for value in state.values():
            if isinstance(value, np.ndarray):
                value.setflags(write=False)

    @property
    def length(self) -> int:
        """The query's length, and every match's, in points."""
        return len(self.query)

    @property
    def series_count(self) -> int:
        """The number of series searched."""
        return len(self.series_lengths)

    def __len__(self) -> int:
        return len(self.series)

    def __repr__(self) -> str:
        if len(self) == 0:
            return (
                f"Matches(0 windows of {self.length} points in {plural(self.series_count, 'series')}: "
                f"none within max_distance={self.max_distance:.4g}, the closest window is at "
                f"{self.closest:.4g})"
            )
        held = len(np.unique(self.series))
        return (
            f"Matches({plural(len(self), 'window')} of {self.length} points in {held} of "
            f"{plural(self.series_count, 'series')}, max_distance={self.max_distance:.4g}, best "
            f"{self.distances[0]:.4g})"
        )

    def to_dict(self) -> dict[str, JSONValue]:
        """The search as plain JSON values.

        Returns
        -------
        dict
            ``zorp_miner`` (the version), ``length`` (the query's, points), ``parameters``
            (``max_distance``, ``exclusion`` in points, ``top``), ``series`` (``count`` and
            ``lengths`` in points), ``closest`` (the smallest distance of any window, None
            when none is usable), ``query`` (its values) and ``matches``: one dict per match,
            best first, with ``series``, ``start`` (points) and ``distance``.
        """
        rows: list[JSONValue] = [
            {"series": s, "start": start, "distance": d}
            for s, start, d in zip(
                self.series.tolist(), self.starts.tolist(), self.distances.tolist(), strict=True
            )
        ]
        return {
            "zorp_miner": __version__,
            "length": self.length,
            "parameters": {
                "max_distance": self.max_distance if math.isfinite(self.max_distance) else None,
                "exclusion": self.exclusion,
                "top": self.top,
            },
            "series": {"count": self.series_count, "lengths": self.series_lengths.tolist()},
            "closest": self.closest if math.isfinite(self.closest) else None,
            "query": [float(value) for value in self.query.tolist()],
            "matches": rows,
        }

    def to_frame(self) -> "pandas.DataFrame":
        """One row per match, best first: columns ``series``, ``start`` (points) and
        ``distance``. Needs pandas (``pip install 'zorp_miner[pandas]'``)."""
        module = require("pandas", "to_frame()")
        frame: "pandas.DataFrame" = module.DataFrame(
            {"series": self.series, "start": self.starts, "distance": self.distances},
            columns=FRAME_COLUMNS,
        )
        return frame


def find_matches(
    query: object,
    data: object,
    *,
    max_distance: RealNumber | None = None,
    top: WholeNumber | None = None,
    exclusion: WholeNumber | None = None,
    client: "Client | str | None" = None,
    progress: bool | Callable[[_progress.Step], object] | None = None,
    threads: WholeNumber | None = None,
) -> Matches:
    """Find every window of every series that matches the query, closest first.

    A window matches when its z-normalised distance to the query, sqrt(2 (1 − r)) (r the
    Pearson correlation of the two: the scale of the robust motifs' scores), is at most
    ``max_distance``. Within a series, matches are taken closest first and none starts within
    ``exclusion`` points of one taken before it, so that by default no two share a point.
    Windows holding a missing point (NaN, or a masked point of a masked array), and flat
    windows, never match.

    Parameters
    ----------
    query : array-like
        The shape to look for: a 1-D array, list, pandas Series or masked array of at least 4
        points, finite (no NaN or masked point), not constant.
    data : array-like, list of array-likes, pandas DataFrame, pandas Series, files or Dask input
        The series to search, in any form :func:`zorp_miner.find_motifs` takes (a single
        series too). A series shorter than the query holds no match; at least one must be as
        long.
    max_distance : float, optional
        The radius, from 0 (only copies of the query, up to level and scale) up; ``math.inf``
        for none (with ``top``: the ``top`` closest windows). By default chance's: 0.8 × the
        smallest distance that 4 shapes like the query but not it (its straight-line trend,
        and the rest with its spectrum and scrambled phases) reach in any series. A window
        within it is closer to the query than shapes as smooth and as trending come anywhere
        in the data, so data that does not hold the shape rarely gives a match, however long
        it is. It costs a pass over the data for those shapes. (STUMPY's default, max(mean −
        2 std, min) of each series' distance profile, takes a share of every series' windows
        and at least one, whether the shape is there or not.)
    top : int, optional
        Return at most this many matches, the closest; None (the default) returns all.
    exclusion : int, optional
        Points: a window is skipped when its start is within this many points of a match
        already taken in its series (a closer one). By default the query's length minus 1, so
        that matches never overlap; 0 lets every window match; ``math.ceil(len(query) / 4)``
        is STUMPY ``match``'s exclusion zone.
    client : dask.distributed.Client or str, optional
        Run on this Dask cluster, as :func:`zorp_miner.find_motifs` does: each part of the
        data is matched on a worker, and the result is the one-process result, bit for bit.
    progress : bool or callable, optional
        Report the steps (matching the shapes like the query for the default radius, then the
        query), as :func:`zorp_miner.find_motifs` does.
    threads : int, optional
        The threads the search uses in this process, from 1 to 1024; by default every core
        the process may run on. The same matches for any number.

    Returns
    -------
    Matches
        ``series``, ``starts`` (points) and ``distances`` of the matches, closest first (ties:
        lower series, then earlier start), the radius used (``max_distance``), ``length``,
        ``to_frame()`` and ``to_dict()``.

    Raises
    ------
    TypeError, ValueError
        Before any work, for a bad query (not 1-D numbers, shorter than 4 points, holding a
        NaN or an infinity, constant, longer than every series), bad data (as
        :func:`zorp_miner.find_motifs`), or a parameter out of its range.

    Examples
    --------
    >>> import numpy as np, zorp_miner
    >>> rng = np.random.default_rng(0)
    >>> series = np.cumsum(rng.normal(size=5000))  # a random walk
    >>> shape = np.repeat([0.0, 20.0, -10.0, 10.0], 15)
    >>> for start in (700, 2500, 4100):
    ...     series[start : start + 60] += shape
    >>> found = zorp_miner.find_matches(shape, series)
    >>> found
    Matches(3 windows of 60 points in 1 of 1 series, max_distance=0.4937, best 0.3184)
    >>> found.starts.tolist()
    [700, 2500, 4100]
    """
    shape = as_query(query)
    radius = checked_radius(max_distance)
    checked_top = checked_count(top, "top", "matches")
    zone = (
        len(shape) - 1
        if exclusion is None
        else whole_number(exclusion, "exclusion", 0, INT32_MAX, "points")
    )
    chosen = _threads.checked(threads)
    report = _progress.reporter(progress)
    with _progress.reporting(report), _threads.using(chosen):
        if client is None:
            return search(LocalParts(series_here(data)), shape, max_distance=radius, exclusion=zone, top=checked_top)
        with opened(client) as (cluster, _):
            return on_parts(
                data,
                cluster,
                lambda parts: search(parts, shape, max_distance=radius, exclusion=zone, top=checked_top),
            )


def as_query(query: object) -> FloatArray:
    """The query as a 1-D float64 array, checked: at least LENGTH_MIN points, every one
    finite, not all equal.

    Raises
    ------
    TypeError
        For values that are not numbers, or a query that is not a sequence.
    ValueError
        For a query of another shape, too short, with a missing point or an infinity, or
        constant; the message names the point.
    """
    pandas = sys.modules.get("pandas")
    if pandas is not None and isinstance(query, pandas.DataFrame):
        if query.shape[1] != 1:
            raise ValueError(
                f"query is a DataFrame of {query.shape[1]} columns; a query is one series: pass "
                "one column"
            )
        query = query.iloc[:, 0]
    array = as_array(query, "query")
    values = as_floats(array, "query")
    if len(values) < LENGTH_MIN:
        raise ValueError(
            f"query has {len(values)} points; a query needs at least {LENGTH_MIN} points"
        )
    bad = ~np.isfinite(values)
    if bad.any():
        point = int(np.argmax(bad))
        raise ValueError(
            f"query, point {point}: {values[point]} is not a finite number (a query may miss no "
            "point: cut it to a whole stretch)"
        )
    if float(values.max()) == float(values.min()):
        raise ValueError(
            f"query is constant ({float(values[0]):g} throughout): it has no shape to match"
        )
    return np.array(values, dtype=np.float64)


def checked_radius(max_distance: object) -> float | None:
    if max_distance is None:
        return None
    if isinstance(max_distance, bool) or not isinstance(max_distance, numbers.Real):
        raise TypeError(
            "max_distance must be a number of 0 or more (math.inf for no radius), or None for "
            f"the default, got {max_distance!r}"
        )
    radius = float(max_distance)
    if not radius >= 0.0:
        raise ValueError(
            f"max_distance must be a number of 0 or more (math.inf for no radius), got {radius}"
        )
    return radius


def search(
    parts: Parts,
    query: FloatArray,
    *,
    max_distance: float | None,
    exclusion: int,
    top: int | None,
) -> Matches:
    """The matches of a checked query (see :func:`as_query`) in a set held in parts.

    Parameters
    ----------
    parts : Parts
        The series.
    query : numpy.ndarray
        The query, as given (it is z-normalised here).
    max_distance : float or None
        The radius; None for chance's (see the module's description).
    exclusion : int
        Points, at least 0 (see :func:`find_matches`).
    top : int or None
        The most matches returned.

    Raises
    ------
    ValueError
        When the query is longer than every series.
    """
    m = len(query)
    refuse_longer(m, parts.lengths)
    shape = znormalised(query)
    if max_distance is None:
        _progress.plan(2)  # progress: the shapes like the query, then the query
        _progress.step(f"matching {CHANCE_SHAPES} shapes like the query, for the default radius")
        closest = min(parts.run(_chance_task, scrambled(shape, CHANCE_SHAPES)))
        max_distance = CHANCE_FACTOR * closest
    else:
        _progress.plan(1)  # progress: the query
    _progress.step(f"matching the query of {m} points")
    found = parts.run(_match_task, shape, max_distance, exclusion, top)
    series = np.concatenate([part[0] for part in found])
    starts = np.concatenate([part[1] for part in found])
    distances = np.concatenate([part[2] for part in found])
    closest = min(part[3] for part in found)
    order = _best_first(series, starts, distances)[:top]
    return Matches(
        series=series[order],
        starts=starts[order],
        distances=distances[order],
        query=query,
        max_distance=max_distance,
        exclusion=exclusion,
        top=top,
        series_lengths=parts.lengths,
        closest=closest,
    )


def refuse_longer(m: int, lengths: IntArray) -> None:
    """Refuse a query of m points longer than every series (of these lengths, points).

    Raises
    ------
    ValueError
        Naming both lengths.
    """
    longest = int(lengths.max(initial=0))
    if m > longest:
        raise ValueError(
            f"query has {m} points, more than every series of data (the longest has {longest}): "
            "a match is a window of a series as long as the query"
        )


def scrambled(shape: FloatArray, count: int) -> FloatArray:
    """count shapes like a z-normalised shape but not it: its least-squares line plus what is
    left of it around the line with the same Fourier amplitudes and random phases (from
    CHANCE_SEED), z-normalised; (count, points).

    The line is kept because scrambling a trend turns it into waves: a query that rises or
    falls would otherwise be compared with shapes that do not, and look closer to a trending
    series than chance is.
    """
    rng = np.random.default_rng(CHANCE_SEED)
    offsets = np.arange(len(shape)) - (len(shape) - 1) / 2.0
    line = offsets * (float(offsets @ shape) / float(offsets @ offsets))
    spectrum = np.abs(np.fft.rfft(shape - line))
    copies = []
    for _ in range(count):
        phases = rng.uniform(0.0, 2.0 * np.pi, len(spectrum))
        phases[0] = 0.0
        if len(shape) % 2 == 0:
            phases[-1] = 0.0  # the Nyquist term of an even length is real
        rest: FloatArray = np.fft.irfft(spectrum * np.exp(1j * phases), n=len(shape))
        copies.append(znormalised(line + rest))
    return np.stack(copies)


def greedy(distances: FloatArray, radius: float, exclusion: int, top: int | None) -> IntArray:
    """The starts of the windows taken from one series' distance profile, closest first.

    Windows within radius (finite distances only) are taken in the order of their distance
    (the earlier start on a tie) unless their start is within ``exclusion`` points of one
    taken before; at most ``top``.
    """
    candidates = np.flatnonzero(np.isfinite(distances) & (distances <= radius))
    order = candidates[np.argsort(distances[candidates], kind="stable")]
    most = len(order) if top is None else top
    if exclusion == 0:
        return np.asarray(order[:most], dtype=np.int64)
    blocked = np.zeros(len(distances), dtype=np.bool_)
    taken: list[int] = []
    for start in order.tolist():
        if blocked[start]:
            continue
        taken.append(start)
        if len(taken) == most:
            break
        blocked[max(0, start - exclusion) : start + exclusion + 1] = True
    return np.array(taken, dtype=np.int64)


def _best_first(series: IntArray, starts: IntArray, distances: FloatArray) -> IntArray:
    """The order of matches by distance, then series, then start."""
    return np.lexsort((starts, series, distances)).astype(np.int64)


Cache = dict[object, object] | None


def _bank_key(m: int) -> tuple[str, int]:
    return ("matches bank", m)


def _bank(series: list[FloatArray], m: int, cache: Cache) -> SeriesBank:
    """The part's series prepared for matching shapes of m points, kept in the cache for the
    run's next step."""
    key = _bank_key(m)
    held = None if cache is None else cache.get(key)
    if isinstance(held, SeriesBank):
        return held
    bank = SeriesBank(series, m)
    if cache is not None:
        cache[key] = bank
    return bank


def _chance_task(
    series: list[FloatArray], first: int, shapes: FloatArray, cache: Cache = None
) -> float:
    """The smallest distance any of the shapes reaches in the part's series (inf: none)."""
    _, best = _bank(series, shapes.shape[1], cache).best(shapes)
    return float(best.min(initial=math.inf))


def _match_task(
    series: list[FloatArray],
    first: int,
    shape: FloatArray,
    radius: float,
    exclusion: int,
    top: int | None,
    cache: Cache = None,
) -> tuple[IntArray, IntArray, FloatArray, float]:
    """Series, start and distance of the part's matches, its best ``top``; and the smallest
    distance of any of its windows."""
    m = len(shape)
    # The part's bank when the chance pass prepared it; else each series is prepared alone
    # and dropped after (the same distances, bit for bit), so that a part of many series is
    # not held prepared at once.
    held = None if cache is None else cache.get(_bank_key(m))
    found: list[tuple[IntArray, IntArray, FloatArray]] = [
        (np.zeros(0, np.int64), np.zeros(0, np.int64), np.zeros(0))
    ]
    closest = math.inf

    def matched(i: int) -> tuple[float, IntArray, FloatArray]:
        if isinstance(held, SeriesBank):
            distances = held.series_distances(i, shape[None, :])[0]
        else:
            distances = SeriesBank([series[i]], m).series_distances(0, shape[None, :])[0]
        starts = greedy(distances, radius, exclusion, top)
        return float(distances.min()), starts, distances[starts]

    # Each series on its own (a transform and a pass over its windows, some 50 operations a
    # point), on the run's threads.
    searched = [i for i, values in enumerate(series) if len(values) >= m]
    work = 50.0 * float(sum(len(series[i]) for i in searched))
    for i, (least, starts, distances) in zip(searched, _threads.map_each(matched, searched, work)):
        closest = min(closest, least)
        found.append((np.full(len(starts), first + i, np.int64), starts, distances))
    owners, starts, distances = (np.concatenate(column) for column in zip(*found))
    order = _best_first(owners, starts, distances)[:top]
    return owners[order], starts[order], distances[order], closest
