"""The robust mode's result: its motifs, as ``zorp_miner.robust.search.discover`` ranks them, as a
:class:`zorp_miner.Motifs`."""

import dataclasses
import math
from collections.abc import Sequence

import numpy as np

from zorp_miner._interface import option
from zorp_miner._types import FloatArray, IntArray
from zorp_miner.compute.sliding import znormalised
from zorp_miner.params import RobustParams
from zorp_miner.compute.evidence import LIKELY
from zorp_miner.robust.motifs import Found
from zorp_miner.robust.rules import SHORTEST
from zorp_miner.robust.search import discover
from zorp_miner.robust.store import RobustStore, as_store
from zorp_miner.results import Motif, Motifs


def motifs_from_found(
    found: Sequence[Found], series: Sequence[FloatArray] | RobustStore, params: RobustParams
) -> Motifs:
    """Build the result of a robust run from its ranked motifs, cut to ``params.top``.

    Parameters
    ----------
    found : sequence of Found
        Every motif of the run, best first, as ``zorp_miner.robust.search.discover`` returns them.
    series : sequence of numpy.ndarray, or RobustStore
        The series of the run, or the store it read them through (for the best matches'
        windows, which are read in one pass, of the motifs kept only).
    params : RobustParams
        The tuning values of the run.
    """
    store = series if isinstance(series, RobustStore) else as_store(list(series))
    kept = found if params.top is None else found[: params.top]
    places = [
        (one, motif.starts[one], motif.starts[one] + motif.length)
        for motif in kept
        for one in sorted(motif.starts)
    ]
    windows = store.windows(places)
    motifs = []
    taken = 0
    for rank, motif in enumerate(kept, start=1):
        motifs.append(motif_from_found(motif, windows[taken : taken + motif.support], rank=rank))
        taken += motif.support
    return Motifs(
        motifs=tuple(motifs),
        found=len(found),
        series_lengths=store.lengths,
        mode="robust",
        params=params,
    )


def motif_from_found(found: Found, windows: Sequence[FloatArray], *, rank: int) -> Motif:
    """One robust motif as a :class:`Motif`: its best matches, in ascending series order.

    ``windows`` holds the points of each best match, in ascending series order."""
    held = sorted(found.starts)
    starts = [found.starts[one] for one in held]
    windows = [znormalised(window) for window in windows]
    return Motif(
        rank=rank,
        pattern=found.pattern,
        seglen=found.seglen,
        length=found.length,
        naed=math.nan,
        series=np.array(held, dtype=np.int64),
        best_matches=np.array(starts, dtype=np.int64),
        average_occurrences=np.array(windows, dtype=np.float64).reshape(len(held), found.length),
        representative=found.representative,
        occurrence_series=np.zeros(0, dtype=np.int64),
        occurrence_letters=np.zeros(0, dtype=np.int64),
        score=found.score,
        distances=np.array([found.distances[one] for one in held], dtype=np.float64),
        mode="robust",
        evidence=found.evidence,
        likely=found.likely,
        why=found.why,
    )


def robust_motifs(series: list[FloatArray] | RobustStore, params: RobustParams) -> Motifs:
    """The robust mode's result over series held here or a store over parts, every motif with
    its evidence or the likely ones (``params.keep``), with the reason when there is none."""
    found = discover(series, length=params.length, minsup=params.minsup, top=params.top)
    kept = [motif for motif in found if params.keep == "all" or motif.likely]
    motifs = motifs_from_found(kept, series, params)
    if kept or not found:
        return motifs if motifs.found else dataclasses.replace(motifs, reason=why_no_motif(params, motifs.series_lengths))
    return dataclasses.replace(motifs, reason=why_none_likely(found, params, len(motifs.series_lengths)))


def why_none_likely(found: list[Found], params: RobustParams, count: int) -> str:
    """Why none of the motifs found is likely, in one line, with what to change."""
    needed = max(1, math.ceil(params.minsup * count))
    best = found[0]
    return (
        f"no motif beyond chance: the most evident of the {len(found)} found (length "
        f"{best.length}) has evidence {best.evidence:.2f} and {best.support} of the {count} "
        f"series hold it, where evidence {LIKELY:g} and {needed} series (minsup "
        f"{params.minsup:g}) are needed; {option('keep', repr('all'))} shows every motif with its "
        f"evidence"
    )


def why_no_motif(params: RobustParams, lengths: IntArray) -> str:
    """Why a robust run over series of these lengths (points) found no motif, in one line,
    with what to change; the options named as the interface in use spells them."""
    count = len(lengths)
    longest = int(lengths.max(initial=0))
    needed = max(1, math.ceil(params.minsup * count))
    if params.length is not None:
        if params.length > longest:
            return (
                f"length {params.length} is above the length of every series (the longest has "
                f"{longest} points): a motif is a shape inside the series (a length equal to "
                f"theirs takes each whole); give a shorter {option('length')}"
            )
        holding = int((lengths >= params.length).sum())
        if holding < needed:
            return (
                f"only {holding} of the {count} series have the {params.length} points of "
                f"length, fewer than the {needed} that must hold a motif (minsup "
                f"{params.minsup:g}): give a shorter {option('length')} or a lower "
                f"{option('minsup')}"
            )
    elif int(np.median(lengths)) // 2 < SHORTEST:
        return (
            f"without a length, lengths from {SHORTEST} points to half the median length of "
            f"the series ({int(np.median(lengths))} points) are searched: none is; give "
            f"{option('length')}"
        )
    tried = "this length" if params.length is not None else "any length searched"
    change = "try another length" if params.length is not None else f"give {option('length')}"
    return (
        f"no series holds a shape that is not flat or monotone (a ramp or a step) at {tried}: "
        f"{change}"
    )
