"""Discords: the windows least like any other, the anomalies of a recording or of a set.

:func:`find_discords` finds them exactly (`search`: bounds from partial searches prune most
windows; docs/discords.md) and returns a :class:`Discords`.
"""

from __future__ import annotations

import math
from collections.abc import Callable
from dataclasses import dataclass
from typing import TYPE_CHECKING

import numpy as np

from zorp_miner import progress as _progress
from zorp_miner._interface import plural
from zorp_miner._types import FloatArray, IntArray, JSONValue
from zorp_miner.compute import threads as _threads
from zorp_miner.discords.search import Found, across_series, within_series
from zorp_miner.params import INT32_MAX, LENGTH_MIN, WholeNumber, checked_count, whole_number
from zorp_miner.run.data import series_here

if TYPE_CHECKING:
    import pandas

EXCLUSION_SHARE = 0.25  # the default exclusion zone within a series: ceil(this x length) points
DEFAULT_TOP = 3
FRAME_COLUMNS = ["series", "start", "distance", "neighbour_series", "neighbour_start"]


@dataclass(frozen=True, eq=False, repr=False)
class Discords:
    """The discords of a series or a set, farthest first.

    Attributes
    ----------
    length : int
        The windows' length, in points.
    within : bool
        True for the discords of one series (each window's nearest neighbour in the same
        series, beyond ``exclusion``); False across a set (each series' window whose nearest
        window in the other series is farthest, one per series).
    exclusion : int or None
        Within a series: a window's neighbours start more than this many points from it.
        None across a set.
    series, starts : numpy.ndarray of int64
        Each discord's series (by position in the data) and start, in points.
    distances : numpy.ndarray of float64
        The z-normalised distance of each discord to its nearest neighbour, sqrt(2 (1 − r)):
        about 1.41 for a window unrelated to any other; descending. STUMPY's matrix profile
        holds sqrt(length) times these.
    neighbour_series, neighbour_starts : numpy.ndarray of int64
        Each discord's nearest neighbour.
    series_lengths : numpy.ndarray of int64
        The points of every series of the data.
    """

    length: int
    within: bool
    exclusion: int | None
    series: IntArray
    starts: IntArray
    distances: FloatArray
    neighbour_series: IntArray
    neighbour_starts: IntArray
    series_lengths: IntArray

    def __post_init__(self) -> None:
        # Own read-only copies: neither the caller nor a reader can change a result.
        for field in ("series", "starts", "neighbour_series", "neighbour_starts", "series_lengths"):
            array = np.array(getattr(self, field), dtype=np.int64)
            array.setflags(write=False)
            object.__setattr__(self, field, array)
        distances = np.array(self.distances, dtype=np.float64)
        distances.setflags(write=False)
        object.__setattr__(self, "distances", distances)

    def __setstate__(self, state: dict[str, object]) -> None:
        self.__dict__.update(state)
        for value in state.values():
            if isinstance(value, np.ndarray):
                value.setflags(write=False)

    def __len__(self) -> int:
        return len(self.starts)

    def __repr__(self) -> str:
        where = "within the series" if self.within else f"across {plural(len(self.series_lengths), 'series')}"
        if len(self) == 0:
            return f"Discords(none of {self.length} points {where})"
        return (
            f"Discords({len(self)} of {self.length} points {where}, farthest {self.distances[0]:.4g} "
            f"at series {self.series[0]} start {self.starts[0]})"
        )

    def to_dict(self) -> dict[str, JSONValue]:
        """The discords as plain JSON values (an infinite distance as None)."""
        return {
            "length": self.length,
            "within": self.within,
            "exclusion": self.exclusion,
            "series": {"count": len(self.series_lengths), "lengths": self.series_lengths.tolist()},
            "discords": [
                {
                    "series": int(self.series[k]),
                    "start": int(self.starts[k]),
                    "distance": float(self.distances[k]) if math.isfinite(self.distances[k]) else None,
                    "neighbour_series": int(self.neighbour_series[k]),
                    "neighbour_start": int(self.neighbour_starts[k]),
                }
                for k in range(len(self))
            ],
        }

    def to_frame(self) -> pandas.DataFrame:
        """One row per discord, farthest first: series, start, distance, neighbour_series,
        neighbour_start (needs pandas)."""
        from zorp_miner._extras import require

        pd = require("pandas", "to_frame()")
        frame: pandas.DataFrame = pd.DataFrame(
            {
                "series": self.series,
                "start": self.starts,
                "distance": self.distances,
                "neighbour_series": self.neighbour_series,
                "neighbour_start": self.neighbour_starts,
            },
            columns=FRAME_COLUMNS,
        )
        return frame


def find_discords(
    data: object,
    length: WholeNumber,
    *,
    top: WholeNumber | None = DEFAULT_TOP,
    exclusion: WholeNumber | None = None,
    progress: bool | Callable[[_progress.Step], object] | None = None,
    threads: WholeNumber | None = None,
) -> Discords:
    """The windows least like any other: exactly the discords of the full matrix of distances.

    Within one series (``data`` holds one), the top discords are the windows whose nearest
    neighbour (the closest window starting more than ``exclusion`` points away) is farthest,
    taken in that order, each at least ``length`` points from those before it: the highest
    values of a matrix profile with that exclusion zone, in order. Across a set, each series'
    discord is its window farthest from every window of the other series; the series come in
    decreasing distance. Windows holding a missing point (NaN), and flat ones, are neither
    discords nor neighbours. The method and its figures: docs/discords.md.

    Parameters
    ----------
    data : array-like, list of array-likes, pandas DataFrame or Series, or file paths
        One series, or a set of series (see :func:`zorp_miner.find_motifs`).
    length : int
        The windows' length, in points (at least 4, at most the longest series' length).
    top : int or None, default 3
        The most discords returned; 0 or None for all (within a series: every window that is
        one, each at least ``length`` from the others; across a set: every series').
    exclusion : int, optional
        Within a series only: neighbours start more than this many points from a window, at
        least 0 and below ``length`` (default: ceil(length / 4), as STUMPY's).
    progress : bool or callable, optional
        As for :func:`zorp_miner.find_motifs`: shown on stderr by default when it is a terminal.
    threads : int, optional
        Within a series, the threads that share the longest blocks of a window's search: every
        core the process may use by default (a window's search is one task: the search goes
        window by window). Across a set the search runs on one thread. The same discords for
        any number.

    Returns
    -------
    Discords
        Farthest first; each with its nearest neighbour and their distance, sqrt(2 (1 − r)).

    Raises
    ------
    ValueError, TypeError
        For a length, top or exclusion out of range, an exclusion across a set, or data that
        is not numeric series.
    """
    m = whole_number(length, "length", LENGTH_MIN, INT32_MAX, "points")
    count = checked_count(top, "top", "discords")
    zone = None if exclusion is None else whole_number(exclusion, "exclusion", 0, INT32_MAX, "points")
    chosen = _threads.checked(threads)
    report = _progress.reporter(progress)
    with _progress.reporting(report), _threads.using(chosen):
        series = series_here(data)
        lengths = np.array([len(s) for s in series], dtype=np.int64)
        if len(series) == 0:
            raise ValueError("data holds no series: give one series, or a set of them")
        if m > int(lengths.max()):
            raise ValueError(f"length {m} is above every series' length (the longest has {int(lengths.max())} points)")
        within = len(series) == 1
        if within:
            zone = math.ceil(EXCLUSION_SHARE * m) if zone is None else zone
            if zone >= m:
                raise ValueError(f"exclusion must be below the length ({m} points), got {zone}")
            found = within_series(series[0], m, zone, count)
        else:
            if zone is not None:
                raise ValueError(
                    "exclusion applies within one series: across a set each window's neighbours "
                    "are the other series' windows; leave it out"
                )
            found = across_series(series, m, count)
    return as_discords(found, m, within, zone, lengths)


def as_discords(found: list[Found], m: int, within: bool, zone: int | None, lengths: IntArray) -> Discords:
    """The search's findings as a :class:`Discords`."""
    return Discords(
        length=m,
        within=within,
        exclusion=zone,
        series=np.array([one.series for one in found], dtype=np.int64),
        starts=np.array([one.start for one in found], dtype=np.int64),
        distances=np.array([one.distance for one in found], dtype=np.float64),
        neighbour_series=np.array([one.neighbour_series for one in found], dtype=np.int64),
        neighbour_starts=np.array([one.neighbour_start for one in found], dtype=np.int64),
        series_lengths=lengths,
    )


__all__ = ["Discords", "find_discords"]
