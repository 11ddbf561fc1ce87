"""The exact mode's result: what ``zorp_miner.exact.parts.mine_exact_parts`` found, as a
:class:`zorp_miner.Motifs`."""

import numpy as np

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
