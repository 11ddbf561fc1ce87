"""The entry point: :func:`find_motifs`."""

from typing import Literal

from .exact import mine_exact
from .inputs import as_series_set
from .params import RealNumber, WholeNumber, exact_params
from .results import Motifs, motifs_from_native

MODES = ("exact",)
Mode = Literal["exact"]


def find_motifs(
    data: object,
    *,
    seglen: WholeNumber,
    alphabet: WholeNumber = 7,
    minsup: RealNumber = 0.5,
    min_len: WholeNumber = 3,
    max_len: WholeNumber = 0,
    max_overlap: RealNumber = 0.9,
    top: WholeNumber | None = None,
    mode: Mode = "exact",
) -> Motifs:
    """Find the shapes that recur across a set of numeric series.

    Each series is z-normalised (mean 0, population deviation 1) and turned into letters: one
    letter per ``seglen`` points, the mean of those points cut into ``alphabet`` levels of the
    normal distribution (``a`` is the lowest). Letter patterns that occur in at least
    ``minsup`` of the series are mined, too short and redundant ones dropped, and each pattern
    is mapped back onto the numbers: its occurrences, a representative curve, the best match in
    each series and ``naed``, by which the motifs are ranked (smallest first).

    The exact mode finds a shape only where it falls on the same letters in every series: a
    copy shifted by part of a segment, or stretched, reads as other letters.

    The whole-number parameters take Python or numpy integers (not bool), and ``minsup`` and
    ``max_overlap`` any real number, numpy's included; the results hold plain Python numbers.

    Parameters
    ----------
    data : array-like, list of array-likes, pandas DataFrame or pandas Series
        The series: a 2-D array (one series per row), a list of 1-D arrays or lists of any
        lengths, a DataFrame (one series per *column*; trailing NaN padding of shorter columns
        is dropped) or a single series (1-D array, flat list, pandas Series). See
        :func:`zorp_miner.inputs.as_series_set`.
    seglen : int
        Points per letter (required). Choose it from the shapes you look for: a shape of ``w``
        points becomes ``w / seglen`` letters, and a pattern needs at least ``min_len`` of
        them, so ``seglen`` should be at most ``w / min_len``; a quarter to a tenth of ``w``
        is a good start. A smaller ``seglen`` keeps more detail but lets noise change letters,
        so fewer series share a pattern; a larger one averages the shape away. For series
        sampled every second and shapes of about a minute, try ``seglen=8``.
    alphabet : int, default 7
        Letters, from 2 to 10. More letters tell finer levels apart and let fewer background
        patterns reach ``minsup``; fewer letters tolerate more noise.
    minsup : float, default 0.5
        The fraction of the series a pattern must occur in, above 0 and at most 1.
    min_len : int, default 3
        The shortest pattern kept, in letters (``min_len`` × ``seglen`` points).
    max_len : int, default 0
        The longest pattern searched, in letters; 0 for no limit. A limit also bounds the
        time and memory of a run on data where long patterns are frequent.
    max_overlap : float, default 0.9
        From 0 to 1: a pattern is dropped when its longest common subsequence with a longer
        kept pattern covers more than this share of its letters.
    top : int or None, default None
        Return only the best ``top`` motifs; None returns all.
    mode : {"exact"}, default "exact"
        The discovery mode. "exact" mines exact letter patterns as described above.

    Returns
    -------
    Motifs
        A sequence of :class:`zorp_miner.Motif`, best first, with ``to_dict()`` and
        ``to_frame()``; ``found`` tells how many motifs the run found before the cut to
        ``top``.

    Raises
    ------
    TypeError, ValueError
        For bad input or a bad parameter, before any work; the message names the value and
        the accepted range.
    MemoryError
        When the run would need more than half the machine's memory (the message says how
        much): raise ``minsup``, set ``max_len`` or use a smaller ``seglen``.

    Examples
    --------
    >>> import numpy as np, zorp_miner
    >>> rng = np.random.default_rng(0)
    >>> data = rng.normal(size=(20, 400))
    >>> data[:, 96:192] += np.repeat([3.0, -3.0, 3.0, -3.0], 24)
    >>> motifs = zorp_miner.find_motifs(data, seglen=8, top=3)
    >>> motifs
    Motifs(3 of 21 found in 20 series, mode='exact')
    >>> motifs[0]
    Motif(rank=1, pattern='gggaaagggaaad', support=16, length=104, naed=0.05402)
    >>> motifs[0].best_matches[:3]
    array([96, 96, 96])
    """
    if mode not in MODES:
        raise ValueError(f"mode must be one of {', '.join(map(repr, MODES))}, got {mode!r}")
    params = exact_params(
        seglen=seglen,
        alphabet=alphabet,
        minsup=minsup,
        min_len=min_len,
        max_len=max_len,
        max_overlap=max_overlap,
        top=top,
    )
    series = as_series_set(data)
    natives = mine_exact(series, params)
    return motifs_from_native(natives, [len(one) for one in series], params, mode=mode)
