"""Every occurrence of a robust motif: each window of every series within a radius of its shape.

The search by example with the motif's ``representative`` as the query (:func:`search` does
the work for both). The default radius starts from the motif's own loosest best match, so that
every series that holds the motif lists its best match, and reaches up to the widest gap in the
distances of the windows closest to the shape: a series' second copy lies beyond its best match,
below the run of windows that only happen to look like the shape. Searched on request, from the
data passed again, never at find time. The method, and why that radius: docs/search.md.
"""

from __future__ import annotations

import math
from collections.abc import Callable, Iterator, Sequence
from dataclasses import dataclass, replace
from typing import TYPE_CHECKING, Protocol

import numpy as np

from zorp_miner.compute import threads as _threads
from zorp_miner import progress as _progress
from zorp_miner._extras import require
from zorp_miner.cluster.parts import LocalParts, Parts
from zorp_miner.run.cluster import opened
from zorp_miner.run.data import on_parts, series_here
from zorp_miner._types import FloatArray, IntArray, JSONValue
from zorp_miner.search.matches import Matches, checked_radius, search
from zorp_miner.params import RealNumber, WholeNumber

if TYPE_CHECKING:
    import pandas
    from distributed import Client


class Motif(Protocol):
    """What the search for a motif's occurrences reads of it: a :class:`zorp_miner.Motif`,
    which this module does not import (the result classes sit below the searches)."""

    @property
    def rank(self) -> int: ...
    @property
    def mode(self) -> str: ...
    @property
    def pattern(self) -> str: ...
    @property
    def length(self) -> int: ...
    @property
    def exclusion(self) -> int | None: ...
    @property
    def representative(self) -> FloatArray: ...
    @property
    def distances(self) -> FloatArray: ...
    @property
    def series(self) -> IntArray: ...
    @property
    def best_matches(self) -> IntArray: ...
    @property
    def likely(self) -> bool | None: ...


class Motifs(Protocol):
    """What it reads of a :class:`zorp_miner.Motifs`: the motifs, their mode and the run's
    series' lengths."""

    @property
    def mode(self) -> str: ...
    @property
    def series_lengths(self) -> IntArray: ...
    def __iter__(self) -> Iterator[Motif]: ...



# The default radius is widened by this much on the squared distance 2 (1 - r): a best match
# found by one matching kernel may come out about this far from its correlation in another
# (rounding of sums over the window); near 0, sqrt magnifies it, hence on the square.
ROUNDING = 1e-9
# The columns of Occurrences.to_frame() and of the command line's --format csv, in order.
MATCH_COLUMNS = ["rank", "series", "start", "length", "distance"]


@dataclass(frozen=True, eq=False, repr=False)
class Occurrences:
    """Every occurrence of a set of robust motifs: one row per (motif, series, start), in the
    motifs' order, each motif's rows closest first (ties: lower series, then earlier start).

    Attributes
    ----------
    ranks : numpy.ndarray of int64
        The rank of the motif of each row.
    series : numpy.ndarray of int64
        The series of each row, numbered by position in the data.
    starts : numpy.ndarray of int64
        The start of each occurrence, in points.
    lengths : numpy.ndarray of int64
        The length of each occurrence (its motif's), in points.
    distances : numpy.ndarray of float64
        The z-normalised distance of each occurrence to its motif's representative,
        sqrt(2 (1 − r)): the scale of the motifs' ``distances`` and ``score``.
    motif_ranks : numpy.ndarray of int64
        The rank of every motif searched, in order (a motif may have no row).
    max_distances : numpy.ndarray of float64
        The radius each of them was searched with, in the order of ``motif_ranks``.
    """

    ranks: IntArray
    series: IntArray
    starts: IntArray
    lengths: IntArray
    distances: FloatArray
    motif_ranks: IntArray
    max_distances: FloatArray

    def __post_init__(self) -> None:
        # Own read-only copies, as every result.
        for field in ("ranks", "series", "starts", "lengths", "motif_ranks"):
            _freeze(self, field, np.int64)
        for field in ("distances", "max_distances"):
            _freeze(self, field, np.float64)

    def __setstate__(self, state: dict[str, object]) -> None:
        # Unpickled and deep-copied arrays are fresh and writable: read-only, as built.
        self.__dict__.update(state)
        for value in state.values():
            if isinstance(value, np.ndarray):
                value.setflags(write=False)

    def __len__(self) -> int:
        return len(self.ranks)

    def __repr__(self) -> str:
        counts = ", ".join(
            f"{rank}: {count}" for rank, count in zip(self.motif_ranks.tolist(), self.counts())
        )
        return f"Occurrences({len(self)} of {len(self.motif_ranks)} motifs, by rank {{{counts}}})"

    def counts(self) -> list[int]:
        """The number of occurrences of each motif, in the order of ``motif_ranks``."""
        return [int(np.count_nonzero(self.ranks == rank)) for rank in self.motif_ranks.tolist()]

    def to_dict(self) -> dict[str, JSONValue]:
        """The table as plain JSON values, a list per column.

        Returns
        -------
        dict
            ``rank``, ``series``, ``start`` (points), ``length`` (points) and ``distance``:
            equal-length lists, one item per occurrence; and ``motifs``: one dict per motif
            searched, ``rank``, ``max_distance`` (the radius used) and ``occurrences`` (their
            count).
        """
        motifs: list[JSONValue] = [
            {"rank": rank, "max_distance": radius, "occurrences": count}
            for rank, radius, count in zip(
                self.motif_ranks.tolist(), self.max_distances.tolist(), self.counts(), strict=True
            )
        ]
        return {
            "rank": self.ranks.tolist(),
            "series": self.series.tolist(),
            "start": self.starts.tolist(),
            "length": self.lengths.tolist(),
            "distance": self.distances.tolist(),
            "motifs": motifs,
        }

    def to_frame(self) -> pandas.DataFrame:
        """One row per occurrence: columns ``rank``, ``series``, ``start`` (points), ``length``
        (points) and ``distance``. Needs pandas (``pip install 'zorp_miner[pandas]'``)."""
        module = require("pandas", "matches_frame()")
        frame: pandas.DataFrame = module.DataFrame(
            {
                "rank": self.ranks,
                "series": self.series,
                "start": self.starts,
                "length": self.lengths,
                "distance": self.distances,
            },
            columns=MATCH_COLUMNS,
        )
        return frame


def _freeze(result: object, field: str, dtype: type[np.generic]) -> None:
    array = np.array(getattr(result, field), dtype=dtype)
    array.setflags(write=False)
    object.__setattr__(result, field, array)


def default_radius(motif: Motif) -> float:
    """The least radius a robust motif's occurrences are searched with by default: the largest
    distance of its best matches, its square widened by ROUNDING (see the module's
    description). `widened_radius` takes it further, up to the gap above the copies."""
    largest = float(motif.distances.max(initial=0.0))
    return math.sqrt(largest * largest + ROUNDING)


def widened_radius(distances: FloatArray, floor: float) -> float:
    """The default radius of a motif's occurrences across a set, from ``distances``: those of
    every window taken closest first, none overlapping another, in every series (a search
    with no radius), and ``floor``, the motif's loosest best match (`default_radius`).

    Between the floor and the median of those distances (a typical window), the radius is the
    lower side of the widest gap between two consecutive distances; the floor itself when the
    widest gap is the one just above it, or when the median is below it. A series' other
    copies lie beyond its best match, which is its closest, but closer than the windows that
    only happen to look like the shape: those come in a dense run, from the least of them up,
    and the copies stand apart below it. Never beyond the median, where the run is everything.
    """
    finite = np.sort(distances[np.isfinite(distances)])
    if len(finite) == 0:
        return floor
    typical = float(np.median(finite))
    steps = np.concatenate([[floor], finite[(finite > floor) & (finite <= typical)]])
    if len(steps) < 2:
        return floor
    return float(steps[int(np.argmax(np.diff(steps)))])


def motif_occurrences(
    motif: Motif,
    data: object,
    *,
    max_distance: RealNumber | None = None,
    client: Client | str | None = None,
    progress: bool | Callable[[_progress.Step], object] | None = None,
    threads: WholeNumber | None = None,
) -> Matches:
    """The occurrences of one robust motif in data (see :meth:`Motif.occurrences`)."""
    refuse_exact([motif])
    radius = checked_radius(max_distance)
    found = _searched([motif], data, radius, None, client, progress, _threads.checked(threads))
    return found[0]


def motifs_occurrences(
    motifs: Motifs,
    data: object,
    *,
    max_distance: RealNumber | None = None,
    client: Client | str | None = None,
    progress: bool | Callable[[_progress.Step], object] | None = None,
    threads: WholeNumber | None = None,
) -> Occurrences:
    """The occurrences of every motif of a robust run in data (see :meth:`Motifs.occurrences`)."""
    if motifs.mode != "robust":
        raise ValueError(
            "the motifs were found by the exact mode: their occurrences are their patterns', "
            "in each motif's occurrence_series and occurrence_starts (points); occurrences "
            "within a radius are searched for robust motifs (find_motifs(data), the default mode)"
        )
    radius = checked_radius(max_distance)
    chosen = _threads.checked(threads)
    found = _searched(list(motifs), data, radius, motifs.series_lengths, client, progress, chosen)
    return occurrences_table(list(motifs), found)


def occurrences_in_parts(
    motifs: Sequence[Motif], parts: Parts, lengths: IntArray | None = None
) -> Occurrences:
    """The occurrences of robust motifs, each with its default radius, in a set held in parts
    (the run's own, on a cluster); with ``lengths``, checked to be the run's series."""
    refuse_exact(motifs)
    return occurrences_table(list(motifs), _each(list(motifs), parts, None, lengths))


def occurrences_table(motifs: Sequence[Motif], found: Sequence[Matches]) -> Occurrences:
    """One table of the occurrences of motifs, found[i] holding those of motifs[i]."""
    return Occurrences(
        ranks=np.concatenate(
            [np.full(len(one), motif.rank, np.int64) for motif, one in zip(motifs, found)]
            + [np.zeros(0, np.int64)]
        ),
        series=np.concatenate([one.series for one in found] + [np.zeros(0, np.int64)]),
        starts=np.concatenate([one.starts for one in found] + [np.zeros(0, np.int64)]),
        lengths=np.concatenate(
            [np.full(len(one), motif.length, np.int64) for motif, one in zip(motifs, found)]
            + [np.zeros(0, np.int64)]
        ),
        distances=np.concatenate([one.distances for one in found] + [np.zeros(0)]),
        motif_ranks=np.array([motif.rank for motif in motifs], dtype=np.int64),
        max_distances=np.array([one.max_distance for one in found], dtype=np.float64),
    )


def refuse_exact(motifs: Sequence[Motif]) -> None:
    """Refuse motifs of the exact mode, whose occurrences are their pattern's.

    Raises
    ------
    ValueError
        Naming the first such motif and where its occurrences are.
    """
    for motif in motifs:
        if motif.mode != "robust":
            raise ValueError(
                f"motif {motif.rank} ({motif.pattern!r}) was found by the exact mode: its "
                "occurrences are its pattern's, in occurrence_series and occurrence_starts "
                "(points); occurrences within a radius are searched for robust motifs "
                "(find_motifs(data), the default mode)"
            )


def _searched(
    motifs: list[Motif],
    data: object,
    radius: float | None,
    lengths: IntArray | None,
    client: object,
    progress: object,
    threads: int | None,
) -> list[Matches]:
    """The occurrences of each motif in data, read once, on a cluster with client; threads:
    the threads used here (None: every core)."""
    report = _progress.reporter(progress)
    with _progress.reporting(report), _threads.using(threads):
        if client is None:
            return _each(motifs, LocalParts(series_here(data)), radius, lengths)
        with opened(client) as (cluster, _):
            return on_parts(data, cluster, lambda parts: _each(motifs, parts, radius, lengths))


def _each(
    motifs: list[Motif], parts: Parts, radius: float | None, lengths: IntArray | None
) -> list[Matches]:
    _check_data(motifs, parts.lengths, lengths)
    return [_one(motif, parts, radius) for motif in motifs]


def _one(motif: Motif, parts: Parts, radius: float | None) -> Matches:
    """The occurrences of one motif within radius; None for its default radius.

    A likely motif across a set is searched with no radius and cut at `widened_radius`:
    windows are taken closest first, and one beyond a radius never keeps a closer one out, so
    the cut equals a search within it. The others keep their loosest best match: a motif that
    may be chance has no copies to look for beyond it (and its gaps are chance's, which a few
    windows make wide), and a motif found within one series already holds every window within
    chance's reach of its shape (docs/within.md).
    """
    shape = np.array(motif.representative)
    floor = default_radius(motif)
    if radius is not None or motif.exclusion is not None or not motif.likely:
        chosen = floor if radius is None else radius
        return search(parts, shape, max_distance=chosen, exclusion=apart(motif), top=None)
    every = search(parts, shape, max_distance=math.inf, exclusion=apart(motif), top=None)
    chosen = widened_radius(every.distances, floor)
    kept = every.distances <= chosen
    return replace(
        every,
        series=every.series[kept],
        starts=every.starts[kept],
        distances=every.distances[kept],
        max_distance=chosen,
    )


def apart(motif: Motif) -> int:
    """How far apart (points) two occurrences of the motif start, at least: more than its
    exclusion zone for a motif found within one series, whose windows keep that zone (they may
    overlap), and by more than its length less one otherwise (no two share a point)."""
    return motif.length - 1 if motif.exclusion is None else motif.exclusion


def _check_data(motifs: list[Motif], found: IntArray, lengths: IntArray | None) -> None:
    """Refuse data that is not the series the motifs were found in: other series lengths
    (points) than the run's, or, for a motif alone, series too few or too short for its best
    matches.

    Raises
    ------
    ValueError
        Naming the first difference.
    """
    if lengths is not None:
        if len(found) != len(lengths):
            raise ValueError(
                f"data holds {len(found)} series, the motifs were found in {len(lengths)}: pass "
                "the data the motifs were found in"
            )
        differ = np.flatnonzero(found != lengths)
        if len(differ):
            i = int(differ[0])
            raise ValueError(
                f"series {i} of data has {found[i]} points, the motifs were found in one of "
                f"{lengths[i]}: pass the data the motifs were found in"
            )
        return
    for motif in motifs:
        for series, start in zip(motif.series.tolist(), motif.best_matches.tolist()):
            if series >= len(found) or start + motif.length > found[series]:
                have = (
                    "no series" if series >= len(found) else f"a series of {found[series]} points"
                )
                raise ValueError(
                    f"motif {motif.rank} matches series {series} at {start} for {motif.length} "
                    f"points, and data has {have} there: pass the data the motif was found in"
                )

