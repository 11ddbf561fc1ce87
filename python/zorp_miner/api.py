"""The entry point: :func:`find_motifs`."""

from collections.abc import Callable, Mapping
from typing import TYPE_CHECKING, Any


from zorp_miner import progress as _progress
from zorp_miner._errors import RunRefused
from zorp_miner._types import FloatArray
from zorp_miner.cluster.parts import LocalParts, Parts
from zorp_miner.compute import threads as _threads
from zorp_miner.exact.parts import mine_exact_parts
from zorp_miner.exact.results import exact_motifs
from zorp_miner.io.inputs import refuse_missing
from zorp_miner.params import (
    MINSUP_DEFAULT,
    ExactParams,
    Keep,
    Mode,
    RealNumber,
    RobustParams,
    WholeNumber,
    checked_params,
)
from zorp_miner.results import Motifs, fetch_all
from zorp_miner.robust.results import robust_motifs
from zorp_miner.robust.store import RobustStore
from zorp_miner.run import choice
from zorp_miner.run.cluster import opened
from zorp_miner.run.data import on_parts, series_here
from zorp_miner.within.result import within_motifs

if TYPE_CHECKING:
    from distributed import Client


def find_motifs(
    data: object,
    *,
    mode: Mode = "robust",
    length: WholeNumber | None = None,
    minsup: RealNumber | None = None,
    top: WholeNumber | None = None,
    keep: Keep = "all",
    seglen: WholeNumber | None = None,
    alphabet: WholeNumber | None = None,
    min_len: WholeNumber | None = None,
    max_len: WholeNumber | None = None,
    max_overlap: RealNumber | None = None,
    client: "Client | str | None" = None,
    lazy: bool = True,
    progress: bool | Callable[[_progress.Step], object] | None = None,
    within: bool | None = None,
    exclusion: WholeNumber | None = None,
    threads: WholeNumber | None = None,
) -> Motifs:
    """Find the shapes that recur across a set of numeric series, or within a long one.

    Returns a :class:`zorp_miner.Motifs`: the motifs, best first (``motifs[0]``), each with
    the series that hold it, each series' best match (start in points) and its distance, its
    shape (``representative``), ``score``, ``evidence`` and whether it is ``likely``;
    ``to_frame()``, ``to_dict()``, ``occurrences(data)`` and the plots of :mod:`zorp_miner.plot`.

    Called as ``find_motifs(data, length=96)`` for shapes of 96 points across the rows of
    data, ``find_motifs(data)`` for lengths found by the run, and
    ``find_motifs(one_long_series, length=200)`` for motifs within one series.

    **Robust mode** (the default): windows of a few series and shapes proposed by frequent
    words are candidates, refined from their best matches in every series by sliding
    z-normalised distance, sqrt(2 (1 − r)), r the Pearson correlation (0 for the same shape,
    about 1.41 for unrelated ones). A motif's ``score`` is the mean distance of its
    ceil(``minsup`` × series) closest best matches; its ``evidence`` how much more closely it
    matches the series than shuffled copies of them, beyond what chance shapes gain there, in
    standard errors; it is ``likely`` from 3 when ceil(``minsup`` × series) series hold it, and
    ``why`` says why one is not ("chance", "few series"). Likely motifs go first, the longest
    first, then by evidence. The method, step by step: docs/robust.md.

    **Within one series** (``within=True``, or a single series): groups of windows of one
    series that share a shape, none within ``exclusion`` points of another: docs/within.md.
    **Exact mode** (``mode="exact"``): letter patterns that recur letter for letter, ranked by
    ``naed``: docs/exact.md. **On a Dask cluster** (``client=``): the same result, bit for bit,
    with the series read part by part on the workers (README, "Running on a Dask cluster").

    **Missing points.** NaN inside a series (or a masked point of a masked array) is a missing
    point: the robust mode never matches a window holding one; the exact mode refuses them
    (naming the series and the point). NaN at the end of a series is padding and is dropped.

    The whole-number parameters take Python or numpy integers (not bool), and the fractions any
    real number, numpy's included; the results hold plain Python numbers.

    Parameters
    ----------
    data : array-like, list of array-likes, pandas DataFrame or pandas Series
        The series: a 2-D array (one series per row), a list of 1-D arrays or lists of any
        lengths, a DataFrame (one series per *column*; trailing NaN padding of shorter columns
        is dropped) or a single series (1-D array, flat list, pandas Series). See
        :func:`zorp_miner.io.inputs.as_series_set`. Also a list of files (paths; each read with
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
        in which a pattern must occur (exact). Not for motifs within a series (refused there).
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
        within ``zorp_miner.cluster.dask.CONNECT_TIMEOUT``, 10 s, raises ``ClusterError``). Needs
        the ``dask`` extra (``pip install 'zorp_miner[dask]'``), on the workers too. Only the
        motifs returned (``top``) fetch their per-series statistics from the workers. Series
        held in this process are scattered to the workers; when a worker is lost with some of
        them, the run starts over (three runs at most). None (the default) runs in this
        process.
    lazy : bool, default True
        On a cluster, exact mode: leave each motif's ``average_occurrences`` (support ×
        length numbers, the bulk of a result) on the workers until it is first read, which
        fetches and keeps them (``to_dict()`` fetches each motif's for the call only, one
        motif at a time; a copy or a pickle fetches them all). Reading them after the client
        is closed raises ``ClusterError``. False fetches them all, one motif at a time, before
        returning. A client opened here from an address is closed at the end of the run, so
        with an address they are always fetched. Not used without a cluster or in the robust
        mode, whose results hold everything.
    progress : bool or callable, optional
        Report the run's progress, step by step (see :mod:`zorp_miner.progress`). True draws
        a bar on stderr once the run has taken a second, redrawn in place and erased at the
        end (a timer thread draws it); a callable is called, in this thread, with a
        :class:`zorp_miner.progress.Step` as each step begins (``done``, ``total``, ``what``,
        ``elapsed`` in seconds) and once at the end (``finished``). The steps are coarse: in
        the robust mode, for each length (each searched without ``length``, and the extents
        searched again), its search in the series, in the shuffled series, and the evidence; in
        the exact mode, the letters of the series, mining the patterns, averaging their
        occurrences, the representatives, and the best matches with the ranking (here as on a
        cluster), all planned when the run starts. None (the default) draws the bar when stderr
        is a terminal, as the command line does, and reports nothing otherwise; False reports
        nothing.

    within : bool or None, default None
        Find motifs within each series (True) or across the set (False); None: within when
        the data is a single series and the mode robust, across otherwise. Not with the exact
        mode or ``client``.
    exclusion : int or None, default None
        Within each series: the exclusion zone in points, from 0 up; no two windows of a
        motif start within it of each other. None: ceil(``length`` / 2).
    threads : int or None, default None
        The threads the run's kernels use in this process, from 1 (one thread) to 1024; None
        uses every core the process may run on (``len(os.sched_getaffinity(0))``). The
        result is the same, bit for bit, for any number. On a cluster, each worker's tasks
        use the worker's threads.

    Returns
    -------
    Motifs
        A sequence of :class:`zorp_miner.Motif`, best first, with ``to_dict()`` and
        ``to_frame()``; ``found`` tells how many motifs the run found before the cut to
        ``top``, and ``reason``, when none was found, why (``repr`` shows it).

    Raises
    ------
    TypeError, ValueError
        For bad input or a bad parameter, before any work; the message names the value and
        the accepted range. Also for a parameter of the other mode (``seglen`` without
        ``mode="exact"``, ``length`` or ``keep`` with it).
    MemoryError
        Exact mode: when the run would need more than half the machine's memory (the message
        says how much): raise ``minsup``, set ``max_len`` or use a smaller ``seglen``.
    zorp_miner.RunRefused
        (a ValueError) Exact mode, before any work: when ``minsup`` × series is 1 or less,
        so that every stretch of every series' letters is a frequent pattern and the time
        grows with the cube of the letters, for runs that would take more than a few seconds;
        the message says what to change.
    zorp_miner.ClusterError
        On a cluster: when a part could not be worked on, even on other workers, after the
        workers running it were lost; the message names the part. Never a partial result.
        Also when no scheduler answers at an address given as ``client`` within 10 seconds.

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
    (20, 0.28, True)
    """
    params = checked_params(
        mode,
        length=length,
        minsup=MINSUP_DEFAULT if minsup is None else minsup,
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
    given = minsup is not None
    chosen, zone = choice.checked_choice(params, within, exclusion, minsup_given=given, on_cluster=client is not None)
    threads_chosen = _threads.checked(threads)
    report = _progress.reporter(progress)
    with _progress.reporting(report), _threads.using(threads_chosen):
        if client is not None:
            return motifs_on_cluster(data, params, client, lazy=lazy)
        return motifs_here(series_here(data), params, chosen, zone, minsup_given=given)


def motifs_here(
    series: list[FloatArray],
    params: RobustParams | ExactParams,
    within: bool | None,
    zone: int | None,
    *,
    minsup_given: bool,
) -> Motifs:
    """The motifs of series read in this process: within each series or across the set, as
    :mod:`zorp_miner.run.choice` decides (within: as asked, None to let the data decide;
    zone: the exclusion zone asked for), the options the data leaves unused refused."""
    inside = choice.is_within(params, within, len(series))
    choice.check_for_data(inside, within, zone, minsup_given=minsup_given, series=len(series))
    if inside:
        assert isinstance(params, RobustParams)
        return within_motifs(series, params, zone)
    return run(series, params)


def motifs_on_cluster(
    data: object,
    params: RobustParams | ExactParams,
    client: object,
    *,
    lazy: bool = True,
    reading: Mapping[str, Any] | None = None,
) -> Motifs:
    """The motifs across the set of data on a Dask cluster, over its parts (see
    :func:`find_motifs`); files read on the workers with reading."""
    with opened(client) as (cluster, here):
        motifs = on_parts(data, cluster, lambda parts: run_parts(parts, params), reading)
        # A client opened here is closed on the way out: nothing can be fetched through it after.
        return motifs if lazy and not here else fetch_all(motifs)


def run_parts(parts: Parts, params: RobustParams | ExactParams) -> Motifs:
    """Run a mode over a set held in parts; the result is that of one part holding it all.

    Raises
    ------
    RunRefused
        Exact mode: for hopeless parameters (see :func:`zorp_miner.exact.parts.hopeless`). Robust
        mode: for a single series, whose motifs are found within it, in this process.
    MemoryError, ValueError
        Exact mode: see :func:`zorp_miner.exact.parts.mine_exact_parts`.
    """
    if isinstance(params, RobustParams):
        if len(parts.lengths) == 1:
            raise RunRefused(
                "a single series: its motifs are found within it, in this process (a search "
                "across one series would match each window with itself); run without a cluster"
            )
        store = RobustStore(parts)
        return robust_motifs(store, params)
    return exact_motifs(mine_exact_parts(parts, params), parts.lengths, params)


def run(series: list[FloatArray], params: RobustParams | ExactParams) -> Motifs:
    """Run a mode over checked series with its checked parameters.

    The exact mode runs over the series as one local part: the run a cluster makes over its
    parts, step by step, in this process.

    Raises
    ------
    MemoryError
        Exact mode: when the run would need more than half the machine's memory.
    ValueError
        Exact mode: for a missing point (NaN) inside a series, an input error refused first.
    RunRefused
        Exact mode: for hopeless parameters (see :func:`zorp_miner.exact.parts.hopeless`).
    """
    if isinstance(params, RobustParams):
        return robust_motifs(series, params)
    refuse_missing(series)
    return run_parts(LocalParts(series), params)
