"""The result of a search within each series: the motifs of every series ranked together, as
:class:`zorp_miner.Motif`, cut to what was asked, with the reason when there are none. The
search at one length: `zorp_miner.within.motifs`; without a length: `zorp_miner.within.lengths`."""

from __future__ import annotations

import math

import numpy as np

from zorp_miner import progress as _progress
from zorp_miner._interface import option
from zorp_miner._types import FloatArray, IntArray
from zorp_miner.compute.evidence import LIKELY
from zorp_miner.compute.shapes import pattern_name
from zorp_miner.compute.sliding import znormalised
from zorp_miner.params import RobustParams
from zorp_miner.results import Motif, Motifs
from zorp_miner.robust.rules import SHORTEST
from zorp_miner.within.lengths import QUARTER, any_length_motifs, steps, zone_of
from zorp_miner.within.motifs import MOST_MOTIFS, WithinMotif, rank, series_motifs


def find_within(series: list[FloatArray], m: int | None, exclusion: int | None, top: int | None) -> list[WithinMotif]:
    """The motifs of every series, each found within its own series at length m (at the
    lengths `zorp_miner.within.lengths` searches when None), ranked: likely first, then by
    evidence, then by pair distance; MOST_MOTIFS per series and length at most, or ``top``
    when it is more. Not cut to ``top``: the closest pair of a series may be chance's while a
    later one is likely, so a series gives as many motifs as it would with no ``top`` before
    the ranking picks."""
    most = MOST_MOTIFS if top is None else max(top, MOST_MOTIFS)
    _progress.plan(2 * len(series) if m is not None else sum(steps(len(values), top) for values in series))
    found: list[WithinMotif] = []
    for index, values in enumerate(series):
        if m is None:
            found.extend(any_length_motifs(values, index, exclusion, most, top))
        else:
            found.extend(series_motifs(values, index, m, zone_of(m, exclusion), most))
    found.sort(key=rank)
    return found


def within_motifs(series: list[FloatArray], params: RobustParams, exclusion: int | None) -> Motifs:
    """The result of a search within each series: motifs as :class:`zorp_miner.Motif` (see
    :func:`as_motif`), ranked, cut to ``params.top``, the likely ones only with
    ``params.keep == "likely"``, with the reason when there are none. Without a length
    (``params.length`` None) each motif has the length found for it, and, unless one is given,
    its own exclusion zone (ceil(length / 2)): the result's ``exclusion`` is then None."""
    m = params.length
    found = find_within(series, m, exclusion, params.top)
    kept = [motif for motif in found if params.keep == "all" or motif.likely][: params.top]
    motifs = tuple(
        as_motif(motif, series[motif.series], rank, zone_of(motif.length, exclusion))
        for rank, motif in enumerate(kept, 1)
    )
    lengths = np.array([len(one) for one in series], dtype=np.int64)
    return Motifs(
        motifs=motifs,
        found=len(found),
        series_lengths=lengths,
        mode="robust",
        params=params,
        reason="" if motifs else _why_none(found, lengths, m, exclusion),
        within=True,
        exclusion=exclusion if m is None else zone_of(m, exclusion),
    )


def as_motif(found: WithinMotif, values: FloatArray, rank: int, zone: int) -> Motif:
    """A motif of one series as a :class:`zorp_miner.Motif`: ``series`` repeats the series for
    each occurrence, ``best_matches`` are the occurrences' starts (the pair first, then the
    others closest first), ``distances`` their distances to ``representative``, and ``score``
    the pair's distance; ``exclusion`` the zone (points) its windows keep apart."""
    pattern, seglen = pattern_name(found.representative)
    m = found.length
    windows = [znormalised(values[start : start + m]) for start in found.starts.tolist()]
    return Motif(
        rank=rank,
        pattern=pattern,
        seglen=seglen,
        length=m,
        naed=math.nan,
        series=np.full(len(found.starts), found.series, dtype=np.int64),
        best_matches=found.starts,
        average_occurrences=np.array(windows, dtype=np.float64).reshape(len(windows), m),
        representative=found.representative,
        occurrence_series=np.zeros(0, dtype=np.int64),
        occurrence_letters=np.zeros(0, dtype=np.int64),
        score=found.pair.distance,
        distances=found.distances,
        mode="robust",
        evidence=found.evidence,
        likely=found.likely,
        why="" if found.likely else "chance",
        exclusion=zone,
    )


def _why_none(found: list[WithinMotif], lengths: IntArray, m: int | None, exclusion: int | None) -> str:
    """Why a search within the series gave no motif, in one line, with what to change."""
    if found:
        best = found[0]
        return (
            f"no motif beyond chance: the most evident of the {len(found)} found has evidence "
            f"{best.evidence:.2f}, where {LIKELY:g} is needed; {option('keep', repr('all'))} shows "
            "every motif with its evidence"
        )
    longest = int(lengths.max(initial=0))
    if m is None:
        return (
            f"no series is long enough to search for motifs of a length it finds: the lengths "
            f"searched are {SHORTEST} points and more, up to a quarter of a series, so a series "
            f"needs at least {QUARTER * SHORTEST} points (the longest has {longest}); give "
            f"{option('length')}"
        )
    zone = zone_of(m, exclusion)
    needed = m + zone + 1
    return (
        f"no series has two usable windows of {m} points more than the exclusion zone ({zone} "
        f"points) apart: a series needs at least {needed} points, whole (no NaN) and not flat "
        f"there (the longest has {longest}); give a shorter {option('length')}"
    )
