"""Result objects: one :class:`Motif` per motif, and :class:`Motifs`, the ranked list of a run.

They hold their own read-only numpy arrays (nothing refers into the native module's memory),
and convert to JSON-ready dicts and to pandas data frames.
"""

import dataclasses
import math
from collections.abc import Callable, Iterator, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, overload

import numpy as np

from zorp_miner._extras import require
from zorp_miner._errors import ClusterError
from zorp_miner._types import FloatArray, IntArray, JSONValue, LaterRows
from zorp_miner._version import __version__
from zorp_miner.params import ExactParams, RealNumber, RobustParams, WholeNumber

if TYPE_CHECKING:
    import pandas
    from distributed import Client

    from zorp_miner import progress as _progress
    from zorp_miner.search.matches import Matches
    from zorp_miner.search.occurrences import Occurrences

# The columns of to_frame(), in order.
FRAME_COLUMNS = [
    "rank",
    "pattern",
    "letters",
    "length",
    "support",
    "naed",
    "score",
    "evidence",
    "likely",
    "series",
    "best_matches",
    "distances",
    "occurrences",
]


@dataclass(frozen=True, eq=False, repr=False)
class Motif:
    """One motif: a shape found in several series, with its statistics.

    Series are numbered by their position in the input (row, item or column). All values of
    ``average_occurrences`` and ``representative`` are in z-normalised units. In the exact mode
    each series is normalised as a whole (mean 0, population deviation 1) before anything else;
    in the robust mode each window is normalised on its own, so that a shape matches wherever
    the series' level and spread happen to be.

    Attributes
    ----------
    rank : int
        Position in the ranking, from 1. Exact mode: the smallest ``score`` first. Robust mode:
        likely motifs first, the longest of them first, then the highest ``evidence``.
    pattern : str
        Exact mode: the letters, ``a`` for the lowest values. Robust mode: the word that
        proposed the motif, the SAX letters of its segment means, with ``.`` for a letter left
        out; a name, not a condition the matches meet.
    seglen : int
        Points per letter of ``pattern``.
    length : int
        Points covered by one occurrence. Exact mode: ``seglen`` × ``len(pattern)``. Robust
        mode: the length given, or the one the run found.
    naed : float
        Exact mode: normalised average Euclidean distance, the distance of each series' best
        match to ``representative``, summed over the series and divided by ``support`` ×
        ``length``; smaller is a tighter motif, and motifs are ranked by it. NaN in the robust
        mode.
    series : numpy.ndarray of int64, shape (support,)
        The series the motif occurs in, ascending.
    best_matches : numpy.ndarray of int64, shape (support,)
        For each of ``series``, the start (in points) of its match nearest to
        ``representative``: in the exact mode among the pattern's occurrences (the earliest
        on a tie), in the robust mode among all windows of the series.
    average_occurrences : numpy.ndarray of float64, shape (support, length)
        For each of ``series``: exact mode, the pointwise mean of its occurrences (NaN where
        every occurrence runs past the end of the series); robust mode, its best match,
        z-normalised. After an exact run on a Dask cluster they stay on the cluster until
        first read, which fetches them (see :func:`zorp_miner.find_motifs`).
    representative : numpy.ndarray of float64, shape (length,)
        Exact mode: the pointwise mean of ``average_occurrences``, every series weighing the
        same. Robust mode: the motif's shape, z-normalised, refined from the best matches.
    occurrence_series : numpy.ndarray of int64, shape (occurrences,)
        The series of each occurrence, ascending. Exact mode only: the robust mode matches
        each series once, at ``best_matches``, and leaves this empty.
    occurrence_letters : numpy.ndarray of int64, shape (occurrences,)
        The start of each occurrence in letters, ascending within a series; see
        ``occurrence_starts`` for points. Exact mode only (empty in the robust mode).
    score : float
        Exact mode: ``naed``, what the ranking used, smaller first. Robust mode: the mean of
        ``distances`` over the ceil(minsup × number of series) closest series (the ranking's
        last resort, after likelihood, length and evidence).
    distances : numpy.ndarray of float64, shape (support,)
        For each of ``series``, the distance of its best match to ``representative``. Exact
        mode: the Euclidean distance divided by ``length`` (their mean is ``naed``). Robust
        mode: sqrt(2 (1 − r)), r the Pearson correlation of the two, which is the root mean
        square difference per point of the z-normalised shapes: 0 for the same shape, about
        1.41 for unrelated ones, 2 for a mirror image.
    mode : str
        The discovery mode that found it: "robust" or "exact".
    evidence : float
        Robust mode: how unlikely the motif is to be chance in this data, in standard errors:
        how much closer its matches are in the series than in the same series with their
        segments shuffled, beyond what the best chance shape found there gains (see "How sure
        is a motif?" in the README); 3 and more is ``likely``. Never NaN: 0 where it cannot be
        measured, and ``why`` says why. NaN in the exact mode.
    likely : bool or None
        Robust mode: whether the evidence is at least 3 and at least ceil(minsup × number of
        series) series hold the motif. None in the exact mode, which does not measure it.
    exclusion : int or None
        A motif found within one series (``find_motifs(..., within=True)``): the exclusion zone
        its windows keep (points; no two start within it of each other), ``series`` then
        repeats that series for each window. None for a motif across series.
    why : str
        Robust mode: why the motif is not likely, "" when it is: "chance" (evidence below 3),
        "few series" (held by fewer than ceil(minsup × number of series) series, however
        evident), both ("chance, few series"), or "evidence unmeasured: " and the reason (the
        evidence, then 0, could not be measured). Empty in the exact mode. ``mark`` is what
        the command line's table shows.
    """

    rank: int
    pattern: str
    seglen: int
    length: int
    naed: float
    series: IntArray
    best_matches: IntArray
    average_occurrences: FloatArray
    representative: FloatArray
    occurrence_series: IntArray
    occurrence_letters: IntArray
    score: float
    distances: FloatArray
    mode: str
    evidence: float = math.nan
    likely: bool | None = None
    exclusion: int | None = None
    why: str = ""

    def __post_init__(self) -> None:
        # Own read-only copies: neither the caller nor a reader can change a result.
        for field, dtype in _ARRAY_FIELDS.items():
            array = np.array(getattr(self, field), dtype=dtype)
            array.setflags(write=False)
            object.__setattr__(self, field, array)
        if self.length > 0:
            averages = self.average_occurrences.reshape(-1, self.length)
            object.__setattr__(self, "average_occurrences", averages)

    if not TYPE_CHECKING:  # mypy would read every misspelt attribute as Any

        def __getattr__(self, name: str) -> Any:
            # Reached only for an attribute not set: average_occurrences left on the cluster.
            later = self.__dict__.get(LATER)
            if name != "average_occurrences" or later is None:
                if name in self.__dict__:  # fetched meanwhile by another thread
                    return self.__dict__[name]
                raise AttributeError(f"{type(self).__name__!r} object has no attribute {name!r}")
            rows = self.__dict__.setdefault(name, fetched(self, later))
            # Dropping the handle releases this motif's share of the cluster's memory.
            self.__dict__.pop(LATER, None)
            return rows

    def __getstate__(self) -> dict[str, object]:
        # A copy or a pickle is complete: values left on the cluster come with it (without
        # being kept in this motif).
        state = dict(self.__dict__)
        later = state.pop(LATER, None)
        if later is not None:
            state["average_occurrences"] = fetched(self, later)
        return state

    def __setstate__(self, state: dict[str, object]) -> None:
        # Unpickled and deep-copied arrays are fresh and writable: read-only, as built.
        self.__dict__.update(state)
        for field in _ARRAY_FIELDS:
            array = self.__dict__.get(field)
            if isinstance(array, np.ndarray):
                array.setflags(write=False)

    def _average_rows(self) -> FloatArray:
        """average_occurrences, fetched for the caller alone when still on the cluster."""
        later = self.__dict__.get(LATER)
        return self.average_occurrences if later is None else fetched(self, later)

    @property
    def support(self) -> int:
        """The number of series the motif occurs in."""
        return len(self.series)

    @property
    def letters(self) -> int:
        """The pattern's length in letters."""
        return len(self.pattern)

    @property
    def occurrence_starts(self) -> IntArray:
        """The start of each occurrence in points: ``occurrence_letters`` × ``seglen``."""
        starts = self.occurrence_letters * self.seglen
        starts.setflags(write=False)
        return starts

    def best_match(self, series: int) -> int:
        """The start, in points, of the best match in one series.

        Raises
        ------
        KeyError
            When the pattern does not occur in that series.
        """
        found = np.flatnonzero(self.series == series)
        if len(found) == 0:
            raise KeyError(f"motif {self.rank} ({self.pattern!r}) does not occur in series {series}")
        return int(self.best_matches[found[0]])

    def __repr__(self) -> str:
        if self.mode == "robust":
            return (
                f"Motif(rank={self.rank}, support={self.support}, length={self.length}, "
                f"score={self.score:.4g}, evidence={self.evidence:.3g}, {self.mark})"
            )
        return (
            f"Motif(rank={self.rank}, pattern={self.pattern!r}, support={self.support}, "
            f"length={self.length}, naed={self.naed:.4g})"
        )

    @property
    def mark(self) -> str:
        """Robust mode: "likely", or why the motif is not (``why``: "chance", "few series",
        both, or "evidence unmeasured" and why); "" in the exact mode."""
        if self.mode != "robust":
            return ""
        return "likely" if self.likely else (self.why or "chance")

    def to_dict(self) -> dict[str, JSONValue]:
        """Every field as plain JSON values; NaN becomes None (null).

        Returns
        -------
        dict
            ``rank``, ``mode``, ``pattern``, ``letters``, ``seglen``, ``length`` (points),
            ``support``, ``naed``, ``score``, ``evidence``, ``likely``, ``why``, ``series``,
            ``best_matches`` (points), ``distances``, ``occurrences`` (a dict of three
            equal-length lists: ``series``,
            ``letters`` and ``starts`` in points), ``average_occurrences`` (one list per
            series of ``series``), ``representative`` and ``exclusion`` (points, for a motif
            found within one series; None otherwise).
        """
        return {
            "rank": self.rank,
            "mode": self.mode,
            "pattern": self.pattern,
            "letters": self.letters,
            "seglen": self.seglen,
            "length": self.length,
            "support": self.support,
            "naed": _json_float(self.naed),
            "score": _json_float(self.score),
            "evidence": _json_float(self.evidence),
            "likely": self.likely,
            "why": self.why,
            "series": self.series.tolist(),
            "best_matches": self.best_matches.tolist(),
            "distances": _json_floats(self.distances),
            "occurrences": {
                "series": self.occurrence_series.tolist(),
                "letters": self.occurrence_letters.tolist(),
                "starts": self.occurrence_starts.tolist(),
            },
            "average_occurrences": [_json_floats(row) for row in self._average_rows()],
            "representative": _json_floats(self.representative),
            "exclusion": self.exclusion,
        }

    def occurrences(
        self,
        data: object,
        *,
        max_distance: RealNumber | None = None,
        client: "Client | str | None" = None,
        progress: "bool | Callable[[_progress.Step], object] | None" = None,
        threads: "WholeNumber | None" = None,
    ) -> "Matches":
        """Every occurrence of this robust motif in data: each window of every series within
        ``max_distance`` of ``representative``, no two of a series overlapping, closest first.

        Searched on request, not kept: a pass over data (``zorp_miner.search.occurrences``).

        Parameters
        ----------
        data : array-like, list of array-likes, pandas DataFrame, files or Dask input
            The data the motif was found in, in any form :func:`zorp_miner.find_motifs`
            takes.
        max_distance : float, optional
            The radius, on the scale of ``distances`` (0 up, ``math.inf`` for every window).
            By default at least the largest of ``distances`` (and a rounding margin), so each
            series holding the motif lists its best match; for a likely motif, up to the
            widest gap in the distances of the windows closest to the shape (at most their
            median), so a series' other copies are listed too (docs/search.md). A motif found
            within one series lists its windows, kept its exclusion zone apart, and every
            other window within the radius (those an earlier motif kept from this one).
        client : dask.distributed.Client or str, optional
            Search on this Dask cluster, as :func:`zorp_miner.find_matches` does.
        progress : bool or callable, optional
            Report the steps, as :func:`zorp_miner.find_motifs` does.
        threads : int, optional
            The threads the search uses here, as :func:`zorp_miner.find_matches` takes them.

        Returns
        -------
        Matches
            As :func:`zorp_miner.find_matches` returns: ``series``, ``starts`` (points) and
            ``distances`` of the occurrences, the radius used (``max_distance``), ``to_frame()``
            and ``to_dict()``; :func:`zorp_miner.plot_search` draws it.

        Raises
        ------
        ValueError
            For a motif of the exact mode (its occurrences are in ``occurrence_series`` and
            ``occurrence_starts``), data without the series and best matches the motif was
            found in, or a negative ``max_distance``.
        """
        from zorp_miner.search.occurrences import motif_occurrences

        return motif_occurrences(
            self, data, max_distance=max_distance, client=client, progress=progress, threads=threads
        )

    def to_frame(self) -> "pandas.DataFrame":
        """This motif as a one-row pandas DataFrame, with the columns of
        :meth:`Motifs.to_frame`. Needs pandas (``pip install 'zorp_miner[pandas]'``)."""
        return _frame([self])


_ARRAY_FIELDS: dict[str, type[np.generic]] = {
    "series": np.int64,
    "best_matches": np.int64,
    "average_occurrences": np.float64,
    "representative": np.float64,
    "occurrence_series": np.int64,
    "occurrence_letters": np.int64,
    "distances": np.float64,
}


@dataclass(frozen=True, eq=False)
class Motifs(Sequence[Motif]):
    """The ranked motifs of one run, best (smallest ``naed``) first; a sequence of
    :class:`Motif`.

    Attributes
    ----------
    motifs : tuple of Motif
        The motifs returned, at most ``params.top``.
    found : int
        The number of motifs the run found, before the cut to ``params.top``.
    series_lengths : numpy.ndarray of int64
        The number of points of each series of the input, after dropping trailing NaN.
    mode : str
        The discovery mode that made them: "robust" or "exact".
    params : RobustParams or ExactParams
        The tuning values of the run (of its mode).
    reason : str
        Why the run found no motif, in one line ("length 500 is above the length of
        every series ..."), with what to change; "" when it found some.
    within : bool
        Whether the motifs were found within each series (see :mod:`zorp_miner.within.motifs`): each
        motif then lies in one series, ``series`` repeats it for each occurrence,
        ``best_matches`` are its occurrences (the closest pair first) and ``score`` the pair's
        distance.
    exclusion : int or None
        Within each series: no two windows of a motif start within this many points of each
        other; None when found without a length and without an exclusion given (each motif's
        own, ceil(length / 2): ``Motif.exclusion``), and across a set.
    """

    motifs: tuple[Motif, ...]
    found: int
    series_lengths: IntArray
    mode: str
    params: RobustParams | ExactParams
    reason: str = ""
    within: bool = False
    exclusion: int | None = None

    def __post_init__(self) -> None:
        lengths = np.array(self.series_lengths, dtype=np.int64)
        lengths.setflags(write=False)
        object.__setattr__(self, "series_lengths", lengths)
        object.__setattr__(self, "motifs", tuple(self.motifs))

    def __setstate__(self, state: dict[str, object]) -> None:
        # Unpickled and deep-copied arrays are fresh and writable: read-only, as built.
        self.__dict__.update(state)
        self.series_lengths.setflags(write=False)

    @property
    def series_count(self) -> int:
        """The number of series of the input."""
        return len(self.series_lengths)

    @overload
    def __getitem__(self, index: int) -> Motif: ...
    @overload
    def __getitem__(self, index: slice) -> "Motifs": ...
    def __getitem__(self, index: int | slice) -> "Motif | Motifs":
        if isinstance(index, slice):
            return dataclasses.replace(self, motifs=self.motifs[index])
        return self.motifs[index]

    def __len__(self) -> int:
        return len(self.motifs)

    def __iter__(self) -> Iterator[Motif]:
        return iter(self.motifs)

    def __repr__(self) -> str:
        why = f": {self.reason}" if self.reason else ""
        zone = "half each length" if self.exclusion is None else self.exclusion
        where = f", within each, exclusion={zone}" if self.within else ""
        return (
            f"Motifs({len(self)} of {self.found} found in {self.series_count} series, "
            f"mode={self.mode!r}{where}{why})"
        )

    def to_dict(self) -> dict[str, JSONValue]:
        """The whole run as plain JSON values; the schema is in the README.

        Returns
        -------
        dict
            ``zorp_miner`` (the version), ``mode``, ``parameters`` (the tuning values by
            name; ``within`` and ``exclusion`` in points too for motifs found within each
            series), ``series`` (``count`` and ``lengths`` in points), ``found`` (motifs before
            the cut to ``top``), ``reason`` (why none was found, None when some were) and
            ``motifs`` (:meth:`Motif.to_dict` of each, best first).
        """
        parameters: dict[str, JSONValue] = dict(self.params.to_dict())
        if self.within:
            parameters.update(within=True, exclusion=self.exclusion)
        return {
            "zorp_miner": __version__,
            "mode": self.mode,
            "parameters": parameters,
            "series": {"count": self.series_count, "lengths": self.series_lengths.tolist()},
            "found": self.found,
            "reason": self.reason or None,
            "motifs": [motif.to_dict() for motif in self.motifs],
        }

    def to_frame(self) -> "pandas.DataFrame":
        """One row per motif, best first. Needs pandas (``pip install 'zorp_miner[pandas]'``).

        Returns
        -------
        pandas.DataFrame
            Columns ``rank``, ``pattern``, ``letters``, ``length`` (points), ``support``,
            ``naed``, ``score``, ``evidence``, ``likely``, ``series`` and ``best_matches`` (int64 arrays, best matches
            in points), ``distances`` (float64 arrays) and ``occurrences`` (their count).
        """
        return _frame(self.motifs)

    def occurrences(
        self,
        data: object,
        *,
        max_distance: RealNumber | None = None,
        client: "Client | str | None" = None,
        progress: "bool | Callable[[_progress.Step], object] | None" = None,
        threads: "WholeNumber | None" = None,
    ) -> "Occurrences":
        """Every occurrence of every motif of a robust run in data, searched on request (a
        pass over data per motif, the data read once): :meth:`Motif.occurrences` of each, in
        one table.

        Parameters
        ----------
        data : array-like, list of array-likes, pandas DataFrame, files or Dask input
            The data the motifs were found in: the same series, of the same lengths (points).
        max_distance : float, optional
            One radius for every motif; by default each motif's own (see
            :meth:`Motif.occurrences`).
        client, progress, threads
            As :meth:`Motif.occurrences`.

        Returns
        -------
        zorp_miner.search.occurrences.Occurrences
            Arrays ``ranks``, ``series``, ``starts`` (points), ``lengths`` (points) and
            ``distances``, one item per occurrence, by motif then closest first; the radius of
            each motif (``max_distances``); ``to_dict()`` and ``to_frame()``.

        Raises
        ------
        ValueError
            For motifs of the exact mode, data of other series than the run's, or a negative
            ``max_distance``.
        """
        from zorp_miner.search.occurrences import motifs_occurrences

        return motifs_occurrences(
            self, data, max_distance=max_distance, client=client, progress=progress, threads=threads
        )

    def matches_frame(
        self,
        data: object,
        *,
        max_distance: RealNumber | None = None,
        client: "Client | str | None" = None,
        progress: "bool | Callable[[_progress.Step], object] | None" = None,
        threads: "WholeNumber | None" = None,
    ) -> "pandas.DataFrame":
        """Every occurrence of every motif, one row each: ``self.occurrences(data,
        ...).to_frame()``, columns ``rank``, ``series``, ``start`` (points), ``length``
        (points) and ``distance``. Needs pandas (``pip install 'zorp_miner[pandas]'``); the
        arguments are those of :meth:`occurrences`."""
        require("pandas", "matches_frame()")
        return self.occurrences(
            data, max_distance=max_distance, client=client, progress=progress, threads=threads
        ).to_frame()


def _frame(motifs: Sequence[Motif]) -> "pandas.DataFrame":
    module = require("pandas", "to_frame()")
    rows = [
        {
            "rank": motif.rank,
            "pattern": motif.pattern,
            "letters": motif.letters,
            "length": motif.length,
            "support": motif.support,
            "naed": motif.naed,
            "score": motif.score,
            "evidence": motif.evidence,
            "likely": motif.likely,
            "why": motif.why,
            "series": motif.series,
            "best_matches": motif.best_matches,
            "distances": motif.distances,
            "occurrences": len(motif.occurrence_letters),
        }
        for motif in motifs
    ]
    frame: pandas.DataFrame = module.DataFrame(rows, columns=FRAME_COLUMNS)
    return frame


def _json_float(value: float) -> float | None:
    return value if math.isfinite(value) else None


def _json_floats(values: FloatArray) -> list[JSONValue]:
    return [value if math.isfinite(value) else None for value in values.tolist()]


# Values an exact run on a Dask cluster leaves with the workers until they are first read (the
# bulk of a result): the motif holds what fetches its average_occurrences instead, under the
# attribute LATER, and fetches and keeps them when they are first read.
LATER = "_later_averages"


def later_averages(motif: Motif, later: LaterRows) -> Motif:
    """motif, its average_occurrences left where they are until first read, then fetched by
    later and kept; whatever it was built with is dropped."""
    object.__delattr__(motif, "average_occurrences")
    object.__setattr__(motif, LATER, later)
    return motif


def fetch_all(motifs: Motifs) -> Motifs:
    """motifs, each motif's average_occurrences fetched from the cluster, one motif at a time."""
    for motif in motifs:
        motif.average_occurrences  # noqa: B018 (reading fetches and keeps them)
    return motifs


def fetched(motif: Motif, later: LaterRows) -> FloatArray:
    """The rows later fetches, as motif's read-only average_occurrences; a ClusterError that
    says what to do when they can no longer be read."""
    try:
        rows = later.fetch()
    except ClusterError as error:
        raise ClusterError(
            f"cannot read the average occurrences of motif {motif.rank} ({motif.pattern!r}): "
            f"{error}. Read average_occurrences (or copy or pickle the result) before closing "
            "the client, or run with lazy=False to fetch them with the result"
        ) from None
    rows = rows.reshape(len(motif.series), motif.length)
    rows.setflags(write=False)
    return rows
