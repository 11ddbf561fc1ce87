"""The exact mode over a set held in parts: the motifs ``_zorp_cpp.Miner.mine`` finds, bit for bit.

The steps of ``Miner::mine`` that read the series run part by part, with the same core code
(``zorp_miner._native``); the steps over the whole set run here, on what the parts send back:

1. Words (on the parts): each series normalised and turned into letters, one byte per seglen
   points; only the words come back.
2. Mining (here): the same ``PatternMiner`` over the words, patterns in the same order.
3. Averages (on the parts, kept there): each motif's average occurrence in each series.
4. Representatives (a fold over the parts, in order): each part adds its series' averages, in
   ascending series order, to the running sums and counts handed on from the part before it,
   which adds every series in the order ``Motif::map`` does.
5. Best matches (on the parts): each series' occurrence nearest the representative, and its
   distance; naed adds the distances here, in ascending series order.
6. Ranking (here): the permutation ``Miner::sort_patterns`` makes, from the naed values alone,
   then the cut to ``top``. The parts keep the averages of the motifs kept, and drop the
   others; each motif fetches its own when they are first read (parts held here hand them
   over at once).
"""

from __future__ import annotations

import os
import sys
from typing import Any

import numpy as np
import numpy.typing as npt

from . import _native, progress
from ._parts import Parts
from .inputs import FloatArray, first_missing, missing_error
from .params import INT32_MAX, ExactParams
from .results import Motif, Motifs, _match_distance, _normalised_series, later_averages

IntArray = npt.NDArray[np.int64]
Cache = dict[object, object] | None
# One motif's occurrences: the series of each group, the end of each group in the positions,
# and the letter positions.
Groups = tuple[npt.NDArray[np.int32], IntArray, npt.NDArray[np.int32]]
# The occurrences of one motif in one part, as the native steps take them.
PartMotif = tuple[int, npt.NDArray[np.int32], IntArray, npt.NDArray[np.int32]]
# What a motif is built with when its averages stay with the parts until read.
_NOT_YET = np.zeros(0, dtype=np.float64)


def mine_exact_parts(parts: Parts, params: ExactParams) -> Motifs:
    """The exact run over series held in parts, as :func:`zorp_miner.find_motifs` returns it.

    Raises
    ------
    ValueError
        When a motif's length does not fit in 32 bits.
    MemoryError
        When the statistics of the motifs returned would need more than half this machine's
        memory.
    """
    progress.plan(5)  # progress: the steps below
    progress.step("letters of the series")
    words: list[bytes] = []
    for i, found in enumerate(parts.run(_words_task, params.seglen, params.alphabet)):
        if isinstance(found, tuple):
            # A missing point: named in the part that holds it, when the parts have names.
            names = getattr(parts, "names", None)
            if names is None:
                raise missing_error(parts.firsts[i] + found[0], found[1])
            raise missing_error(found[0], found[1], where=str(names[i]))
        words.extend(found)
    progress.step("mining the letter patterns")
    mined = _native.mine_words(
        words, params.minsup, params.min_len, params.max_len, params.max_overlap
    )
    del words
    patterns = [pattern.decode("latin-1") for pattern, _, _, _ in mined]
    groups: list[Groups] = [(series, ends, positions) for _, series, ends, positions in mined]
    for pattern in patterns:
        length = params.seglen * len(pattern)
        if length > INT32_MAX:
            raise ValueError(f"motif length of {length} points does not fit in a 32-bit integer")
    if not patterns:
        return _motifs([], 0, parts, params)
    each = [
        (_part_motifs(patterns, groups, first, end),)
        for first, end in zip(parts.firsts, [*parts.firsts[1:], len(parts.lengths)])
    ]
    progress.step(f"averaging the occurrences of {len(patterns)} patterns")
    averages = parts.keep(_averages_task, params.seglen, each=each)
    lengths = [params.seglen * len(pattern) for pattern in patterns]
    start = [(np.zeros(length), np.zeros(length)) for length in lengths]
    progress.step("representatives")
    sums = parts.fold(_representatives_task, start, averages)
    representatives = [_native.representative_from(total, count) for total, count in sums]
    progress.step("best matches and ranking")
    matches = parts.run(_matches_task, representatives, params.seglen, each=each)
    naeds = []
    for k, length in enumerate(lengths):
        # naed adds the series in ascending index order, as Motif::map does.
        total = 0.0
        for part in matches:
            for distance in part[k][1].tolist():
                total += distance
        naeds.append(total / (float(len(groups[k][0])) * float(length)))
    order = _native.ranking_order(np.array(naeds, dtype=np.float64)).tolist()
    kept = order if params.top is None else order[: params.top]
    _check_memory(kept, groups, lengths)
    chosen = parts.keep_each(_chosen_task, averages, kept)
    del averages  # the parts keep the averages of the motifs kept only
    motifs = []
    for rank, k in enumerate(kept, start=1):
        counts = [len(motifs_of_part[k][1]) for (motifs_of_part,) in each]
        rows = parts.rows(chosen, rank - 1, counts, lengths[k])
        series, ends, positions = groups[k]
        ordered = np.argsort(series, kind="stable")
        starts = np.concatenate([[0], ends[:-1]])
        occurrence_series = np.repeat(series[ordered], (ends - starts)[ordered])
        occurrence_letters = np.concatenate(
            [positions[starts[g] : ends[g]] for g in ordered.tolist()]
        )
        motif = Motif(
            rank=rank,
            pattern=patterns[k],
            seglen=params.seglen,
            length=lengths[k],
            naed=naeds[k],
            series=np.sort(series),
            best_matches=np.concatenate([part[k][0] for part in matches]),
            average_occurrences=rows if isinstance(rows, np.ndarray) else _NOT_YET,
            representative=representatives[k],
            occurrence_series=occurrence_series,
            occurrence_letters=occurrence_letters,
            score=naeds[k],
            distances=np.concatenate([part[k][2] for part in matches]),
            mode="exact",
        )
        motifs.append(motif if isinstance(rows, np.ndarray) else later_averages(motif, rows))
    return _motifs(motifs, len(patterns), parts, params)


def _motifs(motifs: list[Motif], found: int, parts: Parts, params: ExactParams) -> Motifs:
    return Motifs(
        motifs=tuple(motifs),
        found=found,
        series_lengths=parts.lengths,
        mode="exact",
        params=params,
    )


def _part_motifs(
    patterns: list[str], groups: list[Groups], first: int, end: int
) -> list[PartMotif]:
    """Each motif's groups of occurrences in the series first to end - 1, series ascending."""
    out: list[PartMotif] = []
    for pattern, (series, ends, positions) in zip(patterns, groups):
        starts = np.concatenate([[0], ends[:-1]])
        inside = np.flatnonzero((series >= first) & (series < end))
        inside = inside[np.argsort(series[inside], kind="stable")]
        counts = ends[inside] - starts[inside]
        taken = (
            np.concatenate([positions[starts[g] : ends[g]] for g in inside.tolist()])
            if len(inside)
            else np.zeros(0, np.int32)
        )
        out.append(
            (
                len(pattern),
                series[inside].astype(np.int32),
                np.cumsum(counts).astype(np.int64),
                taken.astype(np.int32),
            )
        )
    return out


def _check_memory(kept: list[int], groups: list[Groups], lengths: list[int]) -> None:
    """Refuse, as the miner does, statistics that would not fit in half the memory here."""
    needed = sum(
        8.0 * lengths[k] * (len(groups[k][0]) + 1) + 96.0 * len(groups[k][0]) for k in kept
    )
    budget = _native_budget()
    if needed > budget:
        raise MemoryError(
            f"the statistics of the motifs found ({len(kept)}) would need "
            f"{needed / 2**30:.1f} GiB, more than the {budget / 2**30:.1f} GiB this machine can "
            "give them; use a smaller seglen or raise minsup or min_len"
        )


def _native_budget() -> float:
    """The core's budget in bytes: half the machine's memory, and no more than half of what the
    process can address (sys.maxsize: 2 GiB less a byte where pointers are 32 bits)."""
    pages = os.sysconf("SC_PHYS_PAGES")
    page_size = os.sysconf("SC_PAGE_SIZE")
    half_the_machine = pages // 2 * page_size if pages > 0 and page_size > 0 else 8 << 30
    return float(min(half_the_machine, sys.maxsize))


def _words_task(
    series: list[FloatArray], first: int, seglen: int, alphabet: int, cache: Cache = None
) -> list[bytes] | tuple[int, int]:
    """The words of the part's series, or the first missing point (series in the part, point),
    which the exact mode refuses."""
    missing = first_missing(series)
    if missing is not None:
        return missing
    return _native.normalised_words(series, seglen, alphabet)


def _averages_task(
    series: list[FloatArray],
    first: int,
    motifs: list[PartMotif],
    seglen: int,
    cache: Cache = None,
) -> list[FloatArray]:
    return _native.part_averages(series, first, motifs, seglen)


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
    found = _native.part_best_matches(series, first, motifs, representatives, seglen)
    normalised_series: dict[int, FloatArray] = {}

    def normalised(index: int) -> FloatArray:
        if index not in normalised_series:
            normalised_series[index] = _normalised_series(series[index])
        return normalised_series[index]

    out = []
    for (_, groups, _, _), representative, (starts, distances) in zip(
        motifs, representatives, found
    ):
        # Each best match's distance to the representative, as a single run reports it.
        matched = [
            _match_distance(normalised(one - first), start, representative)
            for one, start in zip(groups.tolist(), starts.tolist())
        ]
        out.append((starts, distances, np.array(matched, dtype=np.float64)))
    return out


def _chosen_task(averages: list[FloatArray], kept: list[int]) -> list[Any]:
    return [averages[k] for k in kept]

