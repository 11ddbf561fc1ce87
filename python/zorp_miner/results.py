"""Result objects: one :class:`Motif` per motif, and :class:`Motifs`, the ranked list of a run.

They hold their own read-only numpy arrays (nothing refers into the native module's memory),
and convert to JSON-ready dicts and to pandas data frames.
"""

import dataclasses
import math
from collections.abc import Iterator, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, TypeAlias, overload

import numpy as np
from numpy.typing import ArrayLike, NDArray

import _zorp_cpp

from ._extras import require
from ._version import __version__
from .params import ExactParams

if TYPE_CHECKING:
    import pandas

IntArray: TypeAlias = NDArray[np.int64]
FloatArray: TypeAlias = NDArray[np.float64]
# JSON values: what json.dumps writes without help (NaN is written as null).
JSONValue: TypeAlias = None | bool | int | float | str | list["JSONValue"] | dict[str, "JSONValue"]

# The columns of to_frame(), in order.
FRAME_COLUMNS = [
    "rank",
    "pattern",
    "letters",
    "length",
    "support",
    "naed",
    "series",
    "best_matches",
    "occurrences",
]


@dataclass(frozen=True, eq=False, repr=False)
class Motif:
    """One motif: a letter pattern found in several series, with its statistics.

    Series are numbered by their position in the input (row, item or column). All values of
    ``average_occurrences`` and ``representative`` are in z-normalised units: each series is
    normalised (mean 0, population deviation 1) before anything else.

    Attributes
    ----------
    rank : int
        Position in the ranking, from 1 (the smallest ``naed``).
    pattern : str
        The letters, ``a`` for the lowest values.
    seglen : int
        Points per letter of the run.
    length : int
        Points covered by one occurrence: ``seglen`` × ``len(pattern)``.
    naed : float
        Normalised average Euclidean distance: the distance of each series' best match to
        ``representative``, summed over the series and divided by ``support`` × ``length``.
        Smaller is a tighter motif; motifs are ranked by it.
    series : numpy.ndarray of int64, shape (support,)
        The series the pattern occurs in, ascending.
    best_matches : numpy.ndarray of int64, shape (support,)
        For each of ``series``, the start (in points) of its occurrence nearest to
        ``representative``; the earliest one on a tie.
    average_occurrences : numpy.ndarray of float64, shape (support, length)
        For each of ``series``, the pointwise mean of its occurrences; NaN where every
        occurrence runs past the end of the series.
    representative : numpy.ndarray of float64, shape (length,)
        The pointwise mean of ``average_occurrences``: every series weighs the same.
    occurrence_series : numpy.ndarray of int64, shape (occurrences,)
        The series of each occurrence, ascending.
    occurrence_letters : numpy.ndarray of int64, shape (occurrences,)
        The start of each occurrence in letters, ascending within a series; see
        ``occurrence_starts`` for points.
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

    def __post_init__(self) -> None:
        # Own read-only copies: neither the caller nor a reader can change a result.
        for field, dtype in _ARRAY_FIELDS.items():
            array = np.array(getattr(self, field), dtype=dtype)
            array.setflags(write=False)
            object.__setattr__(self, field, array)
        if self.length > 0:
            averages = self.average_occurrences.reshape(-1, self.length)
            object.__setattr__(self, "average_occurrences", averages)

    @property
    def support(self) -> int:
        """The number of series the pattern occurs in."""
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
            raise KeyError(f"motif {self.pattern!r} does not occur in series {series}")
        return int(self.best_matches[found[0]])

    def __repr__(self) -> str:
        return (
            f"Motif(rank={self.rank}, pattern={self.pattern!r}, support={self.support}, "
            f"length={self.length}, naed={self.naed:.4g})"
        )

    def to_dict(self) -> dict[str, JSONValue]:
        """Every field as plain JSON values; NaN becomes None (null).

        Returns
        -------
        dict
            ``rank``, ``pattern``, ``letters``, ``seglen``, ``length`` (points), ``support``,
            ``naed``, ``series``, ``best_matches`` (points), ``occurrences`` (a dict of three
            equal-length lists: ``series``, ``letters`` and ``starts`` in points),
            ``average_occurrences`` (one list per series of ``series``) and
            ``representative``.
        """
        return {
            "rank": self.rank,
            "pattern": self.pattern,
            "letters": self.letters,
            "seglen": self.seglen,
            "length": self.length,
            "support": self.support,
            "naed": _json_float(self.naed),
            "series": self.series.tolist(),
            "best_matches": self.best_matches.tolist(),
            "occurrences": {
                "series": self.occurrence_series.tolist(),
                "letters": self.occurrence_letters.tolist(),
                "starts": self.occurrence_starts.tolist(),
            },
            "average_occurrences": [_json_floats(row) for row in self.average_occurrences],
            "representative": _json_floats(self.representative),
        }

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
        The discovery mode that made them ("exact").
    params : ExactParams
        The tuning values of the run.
    """

    motifs: tuple[Motif, ...]
    found: int
    series_lengths: IntArray
    mode: str
    params: ExactParams

    def __post_init__(self) -> None:
        lengths = np.array(self.series_lengths, dtype=np.int64)
        lengths.setflags(write=False)
        object.__setattr__(self, "series_lengths", lengths)
        object.__setattr__(self, "motifs", tuple(self.motifs))

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
        return (
            f"Motifs({len(self)} of {self.found} found in {self.series_count} series, "
            f"mode={self.mode!r})"
        )

    def to_dict(self) -> dict[str, JSONValue]:
        """The whole run as plain JSON values; the schema is in the README.

        Returns
        -------
        dict
            ``zorp_miner`` (the version), ``mode``, ``parameters`` (the tuning values by
            name), ``series`` (``count`` and ``lengths`` in points), ``found`` (motifs before
            the cut to ``top``) and ``motifs`` (:meth:`Motif.to_dict` of each, best first).
        """
        parameters: dict[str, JSONValue] = dict(self.params.to_dict())
        return {
            "zorp_miner": __version__,
            "mode": self.mode,
            "parameters": parameters,
            "series": {"count": self.series_count, "lengths": self.series_lengths.tolist()},
            "found": self.found,
            "motifs": [motif.to_dict() for motif in self.motifs],
        }

    def to_frame(self) -> "pandas.DataFrame":
        """One row per motif, best first. Needs pandas (``pip install 'zorp_miner[pandas]'``).

        Returns
        -------
        pandas.DataFrame
            Columns ``rank``, ``pattern``, ``letters``, ``length`` (points), ``support``,
            ``naed``, ``series`` and ``best_matches`` (int64 arrays, best matches in points)
            and ``occurrences`` (their count).
        """
        return _frame(self.motifs)


def motifs_from_native(
    natives: Sequence[_zorp_cpp.Motif],
    series_lengths: Sequence[int],
    params: ExactParams,
    *,
    mode: str = "exact",
) -> Motifs:
    """Build the result of a run from its ranked native motifs, cut to ``params.top``.

    Parameters
    ----------
    natives : sequence of _zorp_cpp.Motif
        Every motif of the run, best first.
    series_lengths : sequence of int
        The points of each series of the run.
    params : ExactParams
        The tuning values of the run.
    mode : str, default "exact"
        The discovery mode that found them.
    """
    kept = natives if params.top is None else natives[: params.top]
    return Motifs(
        motifs=tuple(
            motif_from_native(native, rank=rank, seglen=params.seglen)
            for rank, native in enumerate(kept, start=1)
        ),
        found=len(natives),
        series_lengths=np.array(series_lengths, dtype=np.int64),
        mode=mode,
        params=params,
    )


def motif_from_native(native: _zorp_cpp.Motif, *, rank: int, seglen: int) -> Motif:
    """Copy one native motif into a :class:`Motif`.

    Each property of the native motif is read once (every read copies it); series are put in
    ascending order, since the native maps have none.
    """
    indexes = native.indexes
    best_matches = native.best_matches
    averages = native.average_occurrences
    length = native.length
    series = sorted(indexes)
    occurrence_series = [one for one in series for _ in indexes[one]]
    occurrence_letters = [position for one in series for position in indexes[one]]
    average_rows: ArrayLike = [averages[one] for one in series]
    return Motif(
        rank=rank,
        pattern=native.pattern,
        seglen=seglen,
        length=length,
        naed=native.naed,
        series=np.array(series, dtype=np.int64),
        best_matches=np.array([best_matches[one] for one in series], dtype=np.int64),
        average_occurrences=np.array(average_rows, dtype=np.float64).reshape(len(series), length),
        representative=np.array(native.representative, dtype=np.float64),
        occurrence_series=np.array(occurrence_series, dtype=np.int64),
        occurrence_letters=np.array(occurrence_letters, dtype=np.int64),
    )


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
            "series": motif.series,
            "best_matches": motif.best_matches,
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
