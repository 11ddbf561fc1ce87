"""The exact mode: SAX letters, frequent letter patterns, ranked by naed, from ``_zorp_cpp``."""

from collections.abc import Sequence

import numpy as np
import numpy.typing as npt

import _zorp_cpp

from ._interface import option
from .inputs import FloatArray, native_series_set
from .params import ExactParams

# When a pattern held by one series is frequent, the miner weighs every stretch of every word,
# in time about the sum over the words of letters^3 (1 s for one word of 1,000 letters on the
# development machine): a run beyond this sum, some ten seconds, is refused before it starts.
HOPELESS_WORK = 1e10


def mine_exact(series: Sequence[FloatArray], params: ExactParams) -> list[_zorp_cpp.Motif]:
    """Run the native miner over checked series with checked values.

    Parameters
    ----------
    series : sequence of numpy.ndarray
        The series, as :func:`zorp_miner.inputs.as_series_set` returns them.
    params : ExactParams
        The tuning values, as :func:`zorp_miner.params.exact_params` returns them.

    Returns
    -------
    list of _zorp_cpp.Motif
        Every motif of the run, smallest naed first (``params.top`` is not applied here, so that
        the caller knows how many were found).

    Raises
    ------
    MemoryError
        When the run would need more than half the machine's memory; the message says how
        much and what to change.
    """
    miner = _zorp_cpp.Miner(
        params.minsup,
        params.seglen,
        params.alphabet,
        min_len=params.min_len,
        max_len=params.max_len,
        max_overlap=params.max_overlap,
        k=0,
    )
    return miner.mine(native_series_set(series))


def hopeless(params: ExactParams, lengths: npt.NDArray[np.int64]) -> str:
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
