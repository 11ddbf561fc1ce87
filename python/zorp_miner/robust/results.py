"""The robust mode's result: its motifs, as ``zorp_miner.robust.search.discover`` ranks them, as a
:class:`zorp_miner.Motifs`."""

import math
from collections.abc import Sequence

import numpy as np

from zorp_miner.compute.sliding import znormalised
from zorp_miner._types import FloatArray
from zorp_miner.params import RobustParams
from zorp_miner.robust.search import Found
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
    )
