"""The exact mode over a set held in parts: the motifs ``_zorp_cpp.Miner.mine`` finds, bit for bit.

A run in this process is a run over one local part; on a Dask cluster the parts are loaded by
the workers. The steps of ``Miner::mine`` that read the series run part by part, with the same
core code (``zorp_miner._native``); the steps over the whole set run here:

1. Words (on the parts): each series normalised and turned into letters; only the words come back.
2. Mining (here): the same ``PatternMiner`` over the words; the motifs' lengths and statistics
   checked against 32 bits and the memory budget as the miner checks them, before any is computed.
3. Averages (on the parts, kept there): each motif's average occurrence in each series.
4. Representatives (a fold over the parts, in order): each part adds its series' averages to the
   sums handed on from the part before it, in the order ``Motif::map`` adds them.
5. Best matches (on the parts): each series' occurrence nearest the representative; naed adds
   the distances here, in ascending series order.
6. Ranking (here): the permutation ``Miner::sort_patterns`` makes from naed, then the cut to
   ``top``; the parts keep the averages of the motifs kept, which each motif fetches when first read.
"""

from __future__ import annotations

import math

from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

from zorp_miner import _native, progress
from zorp_miner._errors import RunRefused
from zorp_miner._interface import option
from zorp_miner.cluster.parts import Parts
from zorp_miner._types import FloatArray, IntArray, LaterRows
from zorp_miner.io.inputs import first_missing, missing_error
from zorp_miner.params import ExactParams

Cache = dict[object, object] | None
# One motif's occurrences: the series of each group (ascending), the end of each group in the
# positions, and the letter positions.
Groups = tuple[npt.NDArray[np.int32], IntArray, npt.NDArray[np.int32]]
# The occurrences of one motif in one part, as the native steps take them.
PartMotif = tuple[int, npt.NDArray[np.int32], IntArray, npt.NDArray[np.int32]]

# When a pattern held by one series is frequent, the miner weighs every stretch of every word,
# in time about the sum over the words of letters^3 (1 s for one word of 1,000 letters on the
# development machine): a run beyond this sum, some ten seconds, is refused before it starts.
HOPELESS_WORK = 1e10


@dataclass(frozen=True, eq=False)
class FoundPattern:
    """One motif of an exact run, series in ascending order.

    Attributes
    ----------
    pattern : str
        The letters.
    length : int
        Points of one occurrence.
    naed : float
        What ranks the motif.
    series, best_matches, distances : numpy.ndarray
        Each series holding the pattern, its best match's start (points) and that match's
        distance to the representative.
    representative : numpy.ndarray
        The pointwise mean of the series' average occurrences.
    occurrence_series, occurrence_letters : numpy.ndarray
        Every occurrence's series and start (letters), series ascending.
    averages : numpy.ndarray or LaterRows
        Each series' average occurrence, one row per series, or what fetches them from the
        parts that hold them.
    """

    pattern: str
    length: int
    naed: float
    series: IntArray
    best_matches: IntArray
    distances: FloatArray
    representative: FloatArray
    occurrence_series: IntArray
    occurrence_letters: IntArray
    averages: FloatArray | LaterRows


@dataclass(frozen=True, eq=False)
class ExactRun:
    """What an exact run found: the motifs kept (``top`` of them, best first) and how many it
    found before the cut."""

    kept: list[FoundPattern]
    found: int


def mine_exact_parts(parts: Parts, params: ExactParams) -> ExactRun:
    """The exact run over series held in parts.

    Raises
    ------
    RunRefused
        Before any work, for hopeless parameters (see :func:`hopeless`).
    ValueError
        For a missing point (NaN) inside a series, naming the series (and the part, when the
        parts have names) and the point; when a motif's length does not fit in 32 bits.
    MemoryError
        When the statistics of the motifs would need more than half this machine's memory,
        before any is computed: those of every motif for parts held here, of the motifs
        returned for parts on a cluster.
    """
    why = hopeless(params, parts.lengths)
    if why:
        raise RunRefused(why)
    progress.plan(5)  # progress: the steps below
    progress.step("letters of the series")
    words = _words(parts, params)
    progress.step("mining the letter patterns")
    mined = _native.mine_words(
        words, params.minsup, params.min_len, params.max_len, params.max_overlap
    )
    del words
    patterns = [pattern.decode("latin-1") for pattern, _, _, _ in mined]
    groups: list[Groups] = [(series, ends, positions) for _, series, ends, positions in mined]
    del mined
    lengths = _native.motif_lengths(
        np.array([len(pattern) for pattern in patterns], dtype=np.int64), params.seglen
    ).tolist()
    supports = [len(series) for series, _, _ in groups]
    if parts.local:
        _refuse_oversized(lengths, supports, range(len(patterns)))
    if not patterns:
        return ExactRun(kept=[], found=0)
    ends = [*parts.firsts[1:], len(parts.lengths)]
    each = [(_part_motifs(patterns, groups, first, end),) for first, end in zip(parts.firsts, ends)]
    progress.step(f"averaging the occurrences of {len(patterns)} patterns")
    averages = parts.keep(_averages_task, params.seglen, each=each)
    start = [(np.zeros(length), np.zeros(length)) for length in lengths]
    progress.step("representatives")
    sums = parts.fold(_representatives_task, start, averages)
    representatives = [_native.representative_from(total, count) for total, count in sums]
    progress.step("best matches and ranking")
    matches = parts.run(_matches_task, representatives, params.seglen, each=each)
    naeds = [_naed(k, matches, supports[k], lengths[k]) for k in range(len(patterns))]
    order = _native.ranking_order(np.array(naeds, dtype=np.float64)).tolist()
    kept = order if params.top is None else order[: params.top]
    if not parts.local:
        _refuse_oversized(lengths, supports, kept)  # the statistics that come here
    chosen = parts.keep_each(_chosen_task, averages, kept)
    del averages  # the parts keep the averages of the motifs kept only
    found = []
    for rank, k in enumerate(kept):
        counts = [len(motifs_of_part[k][1]) for (motifs_of_part,) in each]
        series, group_ends, positions = groups[k]
        found.append(
            FoundPattern(
                pattern=patterns[k],
                length=lengths[k],
                naed=naeds[k],
                series=series.astype(np.int64),
                best_matches=np.concatenate([part[k][0] for part in matches]),
                distances=np.concatenate([part[k][2] for part in matches]),
                representative=representatives[k],
                occurrence_series=np.repeat(series, np.diff(group_ends, prepend=0)).astype(
                    np.int64
                ),
                occurrence_letters=positions.astype(np.int64),
                averages=parts.rows(chosen, rank, counts, lengths[k]),
            )
        )
    return ExactRun(kept=found, found=len(patterns))


def hopeless(params: ExactParams, lengths: IntArray) -> str:
    """Why an exact run over series of these lengths (points) is hopeless, or "".

    With ``minsup`` × series at most 1, a pattern held by one series is frequent: every stretch
    of every series' letters is a pattern, and the time grows with the cube of the letters per
    series (up to ``max_len`` letters per stretch). Such a run is refused when the sum over the
    series of letters × (stretch letters)^2 exceeds HOPELESS_WORK.
    """
    count = len(lengths)
    if params.minsup * count > 1.0 or count == 0:
        return ""
    letters = -(-lengths.astype(np.float64) // params.seglen)
    stretch = np.minimum(letters, params.max_len) if params.max_len else letters
    work = float(np.sum(letters * stretch * stretch))
    if work <= HOPELESS_WORK:
        return ""
    longest = int(letters.max())
    more = f"raise {option('minsup')} above 1/{count}, " if count > 1 else "give more series, "
    return (
        f"minsup {params.minsup:g} x {count} series is at most 1, so a pattern held by one "
        f"series is frequent and every stretch of every series' letters (up to {longest} per "
        f"series) is a pattern to weigh, in time growing with the cube of the letters (tens "
        f"of seconds or more here): {more}set {option('max_len')} (the "
        f"longest pattern in letters, such as 20), or use a larger {option('seglen')}"
    )


def _words(parts: Parts, params: ExactParams) -> list[bytes]:
    """Every series' word, in series order; refuses the first missing point."""
    words: list[bytes] = []
    for i, found in enumerate(parts.run(_words_task, params.seglen, params.alphabet)):
        if isinstance(found, tuple):
            # A missing point: named in the part that holds it, when the parts have names.
            names = getattr(parts, "names", None)
            if names is None:
                raise missing_error(parts.firsts[i] + found[0], found[1])
            raise missing_error(found[0], found[1], where=str(names[i]))
        words.extend(found)
    return words


def _refuse_oversized(lengths: list[int], supports: list[int], motifs: Any) -> None:
    """Refuses, as the miner does, statistics of these motifs that would not fit in half the
    memory here (MemoryError)."""
    chosen = list(motifs)
    _native.refuse_oversized_statistics(
        np.array([lengths[k] for k in chosen], dtype=np.int64),
        np.array([supports[k] for k in chosen], dtype=np.int64),
    )


def _naed(k: int, matches: list[Any], support: int, length: int) -> float:
    """Motif k's naed: its series' distances added in ascending index order, as Motif::map
    adds them, over support × length."""
    total = 0.0
    for part in matches:
        for distance in part[k][1].tolist():
            total += distance
    return total / (float(support) * float(length))


def _part_motifs(
    patterns: list[str], groups: list[Groups], first: int, end: int
) -> list[PartMotif]:
    """Each motif's groups of occurrences in the series first to end - 1. A motif's groups are
    in ascending series order, so those of a part are one run of them."""
    out: list[PartMotif] = []
    for pattern, (series, ends, positions) in zip(patterns, groups):
        low, high = np.searchsorted(series, [first, end]).tolist()
        begin = int(ends[low - 1]) if low > 0 else 0
        out.append(
            (
                len(pattern),
                series[low:high],
                ends[low:high] - begin,
                positions[begin : int(ends[high - 1]) if high > low else begin],
            )
        )
    return out


# Series whose largest magnitude lies beyond these are scaled by a power of two before the core
# normalises them: squares of subnormal values vanish and those of huge ones overflow, while a
# power of two scales every sum exactly, so that the z-normalised series, and every result, are
# those of the series itself.
SMALLEST_SCALE, LARGEST_SCALE = 2.0**-500, 2.0**500


def in_range(series: list[FloatArray]) -> list[FloatArray]:
    """The series, each with a largest magnitude out of [SMALLEST_SCALE, LARGEST_SCALE] scaled
    by a power of two to about 1 (the others as they are)."""
    out = []
    for values in series:
        finite = np.abs(values[np.isfinite(values)])
        peak = float(finite.max()) if len(finite) else 0.0
        if peak > 0.0 and not SMALLEST_SCALE <= peak <= LARGEST_SCALE:
            values = np.ldexp(values, -math.frexp(peak)[1])
        out.append(values)
    return out


def _words_task(
    series: list[FloatArray], first: int, seglen: int, alphabet: int, cache: Cache = None
) -> list[bytes] | tuple[int, int]:
    """The words of the part's series, or the first missing point (series in the part, point),
    which the exact mode refuses."""
    missing = first_missing(series)
    if missing is not None:
        return missing
    return _native.normalised_words(in_range(series), seglen, alphabet)


def _averages_task(
    series: list[FloatArray],
    first: int,
    motifs: list[PartMotif],
    seglen: int,
    cache: Cache = None,
) -> list[FloatArray]:
    return _native.part_averages(in_range(series), first, motifs, seglen)


def _representatives_task(
    sums: list[tuple[FloatArray, FloatArray]], averages: list[FloatArray]
) -> list[tuple[FloatArray, FloatArray]]:
    return [
        _native.add_to_representative(total, count, rows)
        for (total, count), rows in zip(sums, averages)
    ]


def _matches_task(
    series: list[FloatArray],
    first: int,
    motifs: list[PartMotif],
    representatives: list[FloatArray],
    seglen: int,
    cache: Cache = None,
) -> list[tuple[IntArray, FloatArray, FloatArray]]:
    return _native.part_best_matches(in_range(series), first, motifs, representatives, seglen)


def _chosen_task(averages: list[FloatArray], kept: list[int]) -> list[Any]:
    return [averages[k] for k in kept]
