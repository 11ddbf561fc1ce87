"""The exact mode: SAX letters, frequent letter patterns, ranked by naed, from ``_zorp_cpp``."""

from collections.abc import Sequence

import _zorp_cpp

from .inputs import FloatArray, native_series_set
from .params import ExactParams


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
