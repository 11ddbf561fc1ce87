"""The exact mode's result: what ``zorp_miner.exact.parts.mine_exact_parts`` found, as a
:class:`zorp_miner.Motifs`."""

import dataclasses

import numpy as np

from zorp_miner._interface import option
from zorp_miner.exact.parts import ExactRun
from zorp_miner._types import IntArray
from zorp_miner.params import ExactParams
from zorp_miner.results import Motif, Motifs, later_averages

# What a motif is built with when its averages stay with the parts until read.
_NOT_YET = np.zeros(0, dtype=np.float64)


def motifs_from_exact(run: ExactRun, lengths: IntArray, params: ExactParams) -> Motifs:
    """The result of an exact run over series of these lengths (points), its motifs ranked
    from 1; average occurrences left on a cluster stay there until first read."""
    motifs = []
    for rank, found in enumerate(run.kept, start=1):
        rows = found.averages
        motif = Motif(
            rank=rank,
            pattern=found.pattern,
            seglen=params.seglen,
            length=found.length,
            naed=found.naed,
            series=found.series,
            best_matches=found.best_matches,
            average_occurrences=rows if isinstance(rows, np.ndarray) else _NOT_YET,
            representative=found.representative,
            occurrence_series=found.occurrence_series,
            occurrence_letters=found.occurrence_letters,
            score=found.naed,
            distances=found.distances,
            mode="exact",
        )
        motifs.append(motif if isinstance(rows, np.ndarray) else later_averages(motif, rows))
    return Motifs(
        motifs=tuple(motifs), found=run.found, series_lengths=lengths, mode="exact", params=params
    )


def exact_motifs(run: ExactRun, lengths: IntArray, params: ExactParams) -> Motifs:
    """motifs_from_exact, with the reason why there are none when there are none."""
    motifs = motifs_from_exact(run, lengths, params)
    if motifs.found:
        return motifs
    return dataclasses.replace(motifs, reason=why_no_pattern(params, lengths))


def why_no_pattern(params: ExactParams, lengths: IntArray) -> str:
    """Why an exact run over series of these lengths (points) found no pattern, in one line,
    with what to change; the options named as the interface in use spells them."""
    count = len(lengths)
    letters = -(-lengths // params.seglen)
    holding = int((letters >= params.min_len).sum())
    if holding < params.minsup * count:
        return (
            f"{holding} of the {count} series have the {params.min_len} letters "
            f"({params.min_len * params.seglen} points) a pattern needs, fewer than minsup "
            f"{params.minsup:g} of them: lower {option('min_len')} or {option('seglen')}"
        )
    return (
        f"no letter pattern of {params.min_len} letters or more occurs in minsup "
        f"{params.minsup:g} of the {count} series: lower {option('minsup')} or "
        f"{option('min_len')}, or use fewer letters ({option('alphabet')}) or a smaller "
        f"{option('seglen')}"
    )
