"""The entry point: :func:`find_motifs`."""

import sys
from typing import TYPE_CHECKING, Literal

from ._parts import Parts
from ._robust import RobustStore, discover
from .exact import mine_exact
from .files import is_file_list, load
from .inputs import FloatArray, as_series_set
from .params import (
    ExactParams,
    Keep,
    RealNumber,
    RobustParams,
    WholeNumber,
    exact_params,
    robust_params,
)
from .results import Motifs, fetch_all, motifs_from_found, motifs_from_native

if TYPE_CHECKING:
    from distributed import Client

MODES = ("robust", "exact")
Mode = Literal["robust", "exact"]
# The parameters only the exact mode reads, with their defaults there.
EXACT_DEFAULTS: dict[str, object] = {"alphabet": 7, "min_len": 3, "max_len": 0, "max_overlap": 0.9}


def find_motifs(
    data: object,
    *,
    mode: Mode = "robust",
    length: WholeNumber | None = None,
    minsup: RealNumber = 0.5,
    top: WholeNumber | None = None,
    keep: Keep = "all",
    seglen: WholeNumber | None = None,
    alphabet: WholeNumber | None = None,
    min_len: WholeNumber | None = None,
    max_len: WholeNumber | None = None,
    max_overlap: RealNumber | None = None,
    client: "Client | str | None" = None,
    lazy: bool = True,
) -> Motifs:
    """Find the shapes that recur across a set of numeric series.

    Two modes. The robust mode (the default) finds a shape wherever it sits in each series,
    whatever the series' level and spread there: letters of the series only *propose*
    candidate shapes, and every candidate is checked against the numbers, window by window.
    The exact mode finds letter patterns that recur letter for letter: fast, but only where the
    copies of a shape fall on the same letters, which real data rarely arranges.

    **Robust mode.** Windows of ``length`` points of a few seed series, and shapes proposed
    by frequent words of 8 letters, are candidate shapes; each candidate's best match in every
    series is found by sliding z-normalised distance, the best candidates are refined from their
    matches (averaged after the common shift that lines them up), and flat and monotone shapes
    are dropped. The ``score`` of a motif is the mean distance sqrt(2 (1 − r)) of the best
    matches of the ceil(``minsup`` × series) closest series, r the Pearson correlation: the root
    mean square difference per point of the z-normalised shapes, 0 for identical, about 1.41
    for unrelated shapes. Every motif carries its ``evidence``: how much more closely it matches
    the series than the same series with their segments shuffled, beyond what the shapes the
    same search finds in shuffled series gain, in standard errors; it is ``likely`` from 3 on
    when ceil(``minsup`` × series) series hold it (a series holds it when its best match beats
    all but 5 % of the motif's matches in the shuffled series). Motifs go likely first, then by
    evidence. Without a length, lengths from 8 points to half the median series length are
    searched and each motif is reported at the length over which its matches agree.

    **Exact mode.** Each series is z-normalised (mean 0, population deviation 1) and turned
    into letters: one letter per ``seglen`` points, the mean of those points cut into
    ``alphabet`` levels of the normal distribution (``a`` is the lowest). Letter patterns that
    occur in at least ``minsup`` of the series are mined, too short and redundant ones dropped,
    and each pattern is mapped back onto the numbers: its occurrences, a representative curve,
    the best match in each series and ``naed``, by which the motifs are ranked (smallest
    first). A copy shifted by part of a segment, or stretched, reads as other letters.

    **On a Dask cluster** (``client=``), the steps that read the series run on the workers,
    part by part, and the result is the same as this process would find, bit for bit: see
    "Running on a Dask cluster" in the README for which steps run where and what crosses the
    network. The series then never come to this process whole (the robust mode's refinement
    reads the windows around the best matches): give ``data`` as parts the workers load (a Dask array chunked along its rows, a list of delayed parts, or a list of files).

    The whole-number parameters take Python or numpy integers (not bool), and the fractions any
    real number, numpy's included; the results hold plain Python numbers.

    Parameters
    ----------
    data : array-like, list of array-likes, pandas DataFrame or pandas Series
        The series: a 2-D array (one series per row), a list of 1-D arrays or lists of any
        lengths, a DataFrame (one series per *column*; trailing NaN padding of shorter columns
        is dropped) or a single series (1-D array, flat list, pandas Series). See
        :func:`zorp_miner.inputs.as_series_set`. Also a list of files (paths; each read with
        :func:`zorp_miner.load`, defaults as there), a 1-D or 2-D Dask array (rows are
        series), or a list of ``dask.delayed`` parts each giving any of the forms above:
        with ``client``, each file, block of rows or delayed part is loaded on a worker;
        without, they are loaded here. Series are numbered across the parts in order.
    mode : {"robust", "exact"}, default "robust"
        The discovery mode, as described above.
    length : int or None, default None
        Robust mode: the motif length in points, at least 4; None lets the run propose lengths
        and report the one it found with each motif (``Motif.length``). Not used by the exact
        mode (a pattern's length is its letters × ``seglen``).
    minsup : float, default 0.5
        The fraction of the series, above 0 and at most 1, that must hold a motif (robust), or
        in which a pattern must occur (exact).
    top : int or None, default None
        Return only the best ``top`` motifs; None returns all. In the robust mode a larger
        ``top`` also refines more candidates (twice ``top``, at least 24).
    keep : {"all", "likely"}, default "all"
        Robust mode: "all" returns every distinct motif found, each marked by its
        ``evidence`` and ``likely``, so that no recurring shape is hidden; "likely" only the
        likely ones (an empty result when none is).
    seglen : int
        Exact mode, required there: points per letter. A shape of ``w`` points becomes
        ``w / seglen`` letters, and a pattern needs at least ``min_len`` of them, so
        ``seglen`` should be at most ``w / min_len``; a quarter to a tenth of ``w`` is a good
        start.
    alphabet : int, default 7
        Exact mode: letters, from 2 to 10. More letters tell finer levels apart and let fewer
        background patterns reach ``minsup``; fewer letters tolerate more noise.
    min_len : int, default 3
        Exact mode: the shortest pattern kept, in letters (``min_len`` × ``seglen`` points).
    max_len : int, default 0
        Exact mode: the longest pattern searched, in letters; 0 for no limit.
    max_overlap : float, default 0.9
        Exact mode: from 0 to 1, a pattern is dropped when its longest common subsequence with
        a longer kept pattern covers more than this share of its letters.
    client : dask.distributed.Client or str, optional
        Run on this Dask cluster: a client, or a scheduler's address ("tcp://10.0.0.5:8786",
        for which a client is opened and closed again; a scheduler that does not answer
        within ``zorp_miner._dask.CONNECT_TIMEOUT``, 10 s, raises ``ClusterError``). Needs
        the ``dask`` extra (``pip install 'zorp_miner[dask]'``), on the workers too. Only the
        motifs returned (``top``) fetch their per-series statistics from the workers. Series
        held in this process are scattered to the workers; when a worker is lost with some of
        them, the run starts over (three runs at most). None (the default) runs in this
        process, which starts no threads or processes.
    lazy : bool, default True
        On a cluster, exact mode: leave each motif's ``average_occurrences`` (support ×
        length numbers, the bulk of a result) on the workers until it is first read, which
        fetches and keeps them (``to_dict()`` fetches each motif's for the call only, one
        motif at a time; a copy or a pickle fetches them all). Reading them after the client
        is closed raises ``ClusterError``. False fetches them all, one motif at a time, before
        returning. A client opened here from an address is closed at the end of the run, so
        with an address they are always fetched. Not used without a cluster or in the robust
        mode, whose results hold everything.

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
        the accepted range. Also for a parameter of the other mode (``seglen`` without
        ``mode="exact"``, ``length`` or ``keep`` with it).
    MemoryError
        Exact mode: when the run would need more than half the machine's memory (the message
        says how much): raise ``minsup``, set ``max_len`` or use a smaller ``seglen``.
    zorp_miner.ClusterError
        On a cluster: when a part could not be worked on, even on other workers, after the
        workers running it were lost; the message names the part. Never a partial result.
        Also when no scheduler answers at the address given as ``client``.

    Examples
    --------
    >>> import numpy as np, zorp_miner
    >>> rng = np.random.default_rng(0)
    >>> data = rng.normal(size=(20, 400))
    >>> for row in data:
    ...     start = rng.integers(0, 300)
    ...     row[start : start + 96] += np.repeat([3.0, -3.0, 3.0, -3.0], 24)
    >>> motifs = zorp_miner.find_motifs(data, length=96, top=1)
    >>> motifs[0].support, round(motifs[0].score, 2), motifs[0].likely
    (20, 0.29, True)
    """
    params = checked_params(
        mode,
        length=length,
        minsup=minsup,
        top=top,
        keep=keep,
        seglen=seglen,
        alphabet=alphabet,
        min_len=min_len,
        max_len=max_len,
        max_overlap=max_overlap,
    )
    if not isinstance(lazy, bool):
        raise TypeError(f"lazy must be True or False, got {lazy!r}")
    if client is not None:
        return run_on_cluster(data, params, client, lazy=lazy)
    return run(local_series(data), params)


def local_series(data: object) -> list[FloatArray]:
    """The checked series of data in this process: files are read, Dask collections computed
    with dask's default scheduler, anything else checked by :func:`as_series_set`."""
    if is_file_list(data):
        return [one for path in data for one in load(path)]
    if "dask" in sys.modules:
        from . import _dask

        if _dask.is_dask_input(data):
            return _dask.computed_series(data)
    return as_series_set(data)


def run_on_cluster(
    data: object, params: RobustParams | ExactParams, client: object, *, lazy: bool = True
) -> Motifs:
    """Run a mode on a Dask cluster over the parts of data (see :func:`find_motifs`)."""
    from . import _dask

    cluster, opened = _dask.client_of(client)
    try:
        motifs = _dask.with_parts(data, cluster, lambda parts: run_parts(parts, params))
        # A client opened here is closed below: nothing can be fetched through it after.
        return motifs if lazy and not opened else fetch_all(motifs)
    finally:
        if opened:
            cluster.close()


def run_parts(parts: Parts, params: RobustParams | ExactParams) -> Motifs:
    """Run a mode over a set held in parts; the result is that of one part holding it all."""
    if isinstance(params, RobustParams):
        store = RobustStore(parts)
        found = discover(store, length=params.length, minsup=params.minsup, top=params.top, keep=params.keep)
        return motifs_from_found(found, store, params)
    from ._exact_parts import mine_exact_parts

    return mine_exact_parts(parts, params)


def checked_params(
    mode: object,
    *,
    length: object,
    minsup: object,
    top: object,
    seglen: object,
    alphabet: object,
    min_len: object,
    max_len: object,
    max_overlap: object,
    keep: object = "all",
) -> RobustParams | ExactParams:
    """Check the mode and the parameters it reads; a parameter of the other mode is an error.

    ``None`` stands for "not given" for every parameter but ``top``.
    """
    if mode not in MODES:
        raise ValueError(f"mode must be one of {', '.join(map(repr, MODES))}, got {mode!r}")
    exact_only = {
        "seglen": seglen,
        "alphabet": alphabet,
        "min_len": min_len,
        "max_len": max_len,
        "max_overlap": max_overlap,
    }
    if mode == "robust":
        given = [name for name, value in exact_only.items() if value is not None]
        if given:
            raise ValueError(
                f"{given[0]} is a parameter of the exact mode: pass mode='exact' to use it (the "
                "robust mode takes length, minsup and top)"
            )
        return robust_params(length=length, minsup=minsup, top=top, keep=keep)
    if keep != "all":
        raise ValueError(
            "keep is a parameter of the robust mode, which marks each motif by its evidence; "
            "the exact mode keeps every pattern frequent enough"
        )
    if length is not None:
        raise ValueError(
            "length is a parameter of the robust mode; the exact mode's motifs are seglen × "
            "their letters long"
        )
    if seglen is None:
        raise ValueError("seglen (points per letter) is required in the exact mode")
    values = {
        name: EXACT_DEFAULTS[name] if value is None else value
        for name, value in exact_only.items()
        if name != "seglen"
    }
    return exact_params(seglen=seglen, minsup=minsup, top=top, **values)


def run(series: list[FloatArray], params: RobustParams | ExactParams) -> Motifs:
    """Run a mode over checked series with its checked parameters.

    Raises
    ------
    MemoryError
        Exact mode: when the run would need more than half the machine's memory.
    """
    if isinstance(params, RobustParams):
        found = discover(series, length=params.length, minsup=params.minsup, top=params.top, keep=params.keep)
        return motifs_from_found(found, series, params)
    return motifs_from_native(mine_exact(series, params), series, params)
