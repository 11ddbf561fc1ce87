"""Motifs within one series without a length: the lengths searched, their motifs merged (one
shape found at two lengths is one motif), and the likely ones searched again at their extent,
as a search across a set does without a length. The method: docs/within.md."""

from __future__ import annotations

import numpy as np

from zorp_miner import progress as _progress
from zorp_miner._types import FloatArray
from zorp_miner.robust.refine import length_grid
from zorp_miner.robust.rules import SHORTEST, TRIMMED
from zorp_miner.robust.search import extent
from zorp_miner.within.motifs import WithinMotif, default_exclusion, rank, series_motifs

LONGEST = 1024  # the longest length searched without a length (points), a quarter of the series at most
QUARTER = 4  # the lengths searched are at most the series' points over this: room for a likely motif


def searched_lengths(points: int) -> list[int]:
    """The lengths (points) searched in a series of that many points: SHORTEST, twice that,
    ..., up to a quarter of the series and at most LONGEST. A likely motif holds at least four
    windows, so a longer one would not fit."""
    return length_grid(min(LONGEST, points // QUARTER))


def zone_of(m: int, exclusion: int | None) -> int:
    """The exclusion zone (points) at length m: the one given, else ceil(m / 2)."""
    return default_exclusion(m) if exclusion is None else exclusion


def steps(points: int, top: int | None) -> int:
    """The progress steps of a search of one series of that many points: two per length, two
    per extent searched again (planned whether or not each is needed, so the total never
    grows)."""
    return 2 * (len(searched_lengths(points)) + extents_wanted(top))


def extents_wanted(top: int | None) -> int:
    """The likely motifs searched again at their extent, at most: TRIMMED, or top when more."""
    return TRIMMED if top is None else max(top, TRIMMED)


def any_length_motifs(values: FloatArray, series: int, exclusion: int | None, most: int, top: int | None) -> list[WithinMotif]:
    """The motifs of one series at the lengths searched, merged (`distinct`), and each of the
    first likely ones searched again at its extent (`at_extent`), in the order of `rank`."""
    found: list[WithinMotif] = []
    # Without a length, a dozen lengths or more are searched: the whole profile at each would
    # cost more than all their proposals, and a pair exactly the closest is promised at a
    # length given.
    for m in searched_lengths(len(values)):
        found.extend(series_motifs(values, series, m, zone_of(m, exclusion), most, whole_profile=False))
    found = distinct(sorted(found, key=rank))
    wanted = extents_wanted(top)
    searched = 0
    again: list[WithinMotif] = []
    for motif in found:
        if motif.likely and searched < wanted:
            searched += 1
            again.append(at_extent(values, motif, exclusion, most))
        else:
            again.append(motif)
    for _ in range(wanted - searched):
        passed(series, "no more extents to search")
    return distinct(sorted(again, key=rank))


def passed(series: int, why: str) -> None:
    """The two progress steps of a search at an extent not made (planned all the same)."""
    for _ in range(2):
        _progress.step(f"series {series}: {why}")


def distinct(found: list[WithinMotif]) -> list[WithinMotif]:
    """The motifs in their order, each unless it is one kept before it again (`coincide`)."""
    kept: list[WithinMotif] = []
    for motif in found:
        if not any(coincide(motif, other) for other in kept):
            kept.append(motif)
    return kept


def coincide(a: WithinMotif, b: WithinMotif) -> bool:
    """Whether a and b, motifs of one series, are one shape found at two lengths (or twice):
    most of the windows of the one with fewer (either, when they hold as many) share at least
    half the shorter length with a window of the other, or have one of its windows at one
    offset from them (the same within a quarter of the shorter length; at most the two lengths
    apart): two parts of a longer shape, side by side in each of its copies."""
    if a.series != b.series:
        return False
    if len(a.starts) > len(b.starts):
        a, b = b, a
    return mostly_beside(a, b) or (len(a.starts) == len(b.starts) and mostly_beside(b, a))


def mostly_beside(fewer: WithinMotif, more: WithinMotif) -> bool:
    """Whether most of fewer's windows share half the shorter length with one of more's, or
    stand at one offset from one (see `coincide`)."""
    if 2 * shared_windows(fewer, more) > len(fewer.starts):
        return True
    slack = min(fewer.length, more.length) / 4
    offsets = more.starts[None, :] - fewer.starts[:, None]
    rows, columns = np.nonzero(np.abs(offsets) <= fewer.length + more.length)
    order = np.argsort(offsets[rows, columns], kind="stable")
    rows, near = rows[order], offsets[rows[order], columns[order]]
    # For each offset found, the windows of fewer with one within slack of it.
    firsts = np.searchsorted(near, near - slack, side="left")
    lasts = np.searchsorted(near, near + slack, side="right")
    return any(2 * len(np.unique(rows[first:last])) > len(fewer.starts) for first, last in zip(firsts.tolist(), lasts.tolist()))


def at_extent(values: FloatArray, motif: WithinMotif, exclusion: int | None, most: int) -> WithinMotif:
    """A likely motif searched again at the length of its extent (over windows twice its length
    centred on its own, NaN where they run off the series: see `extent`), when that differs
    from its length by more than an eighth: the likely motif found there that coincides with it
    and shares most of its windows, the first in the order of `rank` of those; the motif as it
    is when none does (a likely motif is not traded for one that is not)."""
    m = motif.length
    padded = np.concatenate([np.full(m // 2, np.nan), values, np.full(m, np.nan)])
    windows = [padded[start : start + 2 * m] for start in motif.starts.tolist()]
    points = max(SHORTEST, extent(windows))
    if 8 * abs(points - m) <= m or points > len(values) // QUARTER:
        passed(motif.series, f"extent {m} points, as found")
        return motif
    again = [
        found
        for found in series_motifs(
            values, motif.series, points, zone_of(points, exclusion), most, whole_profile=False
        )
        if found.likely and coincide(found, motif)
    ]
    return min(again, key=lambda found: (-shared_windows(found, motif), rank(found)), default=motif)


def shared_windows(a: WithinMotif, b: WithinMotif) -> int:
    """How many of a's windows share half the shorter length with one of b's."""
    shorter = min(a.length, b.length)
    begins = np.maximum(a.starts[:, None], b.starts[None, :])
    ends = np.minimum(a.starts[:, None] + a.length, b.starts[None, :] + b.length)
    return int(np.any(2 * (ends - begins) >= shorter, axis=1).sum())

