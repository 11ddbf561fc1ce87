"""Runs on a Dask cluster: the parts of a set loaded and worked on by the workers.

:class:`DaskParts` is the cluster's side of ``zorp_miner.cluster.parts.Parts``. Each part is a
recipe the workers follow to load it (a chunk of a Dask array, a delayed object, a file read
with :func:`zorp_miner.load`, or series this process scattered); every step of a run is a graph
of pure tasks, each loading its part and working on it, so that a worker holds one part at a
time and the raw series never come to this process. A worker keeps what a task prepared from a
part for the later steps, within a share of its memory (``WORKER_KEEP``; the Dask setting
``zorp-miner.worker-keep``). A lost worker's tasks run again elsewhere from their recipes;
series scattered from here have none, so the run starts over (``SCATTER_TRIES`` times); a part
lost too often stops the run with a :class:`ClusterError` that names it, and no result. What
runs where, and what crosses the network: docs/architecture.md and the README.

Importing this module imports dask; ``zorp_miner`` imports it only for a run given a cluster.
"""

from __future__ import annotations

import os
import threading
from concurrent.futures import CancelledError
import uuid
from collections.abc import Callable, Iterator, Mapping, Sequence
from typing import Any, TypeGuard, TypeVar, cast

import numpy as np

from zorp_miner._errors import ClusterError as ClusterError  # also where it was defined before
from zorp_miner._extras import require
from zorp_miner.cluster.parts import put_rows, split_points
from zorp_miner.io.files import is_file_list, load
from zorp_miner._types import FloatArray, LaterRows
from zorp_miner.io.inputs import as_series_set

require("distributed", "running on a Dask cluster")

import dask  # noqa: E402
import dask.array  # noqa: E402
from dask.delayed import Delayed  # noqa: E402
from distributed import Client, Future, KilledWorker, as_completed, get_worker  # noqa: E402
from distributed.client import ClosedClientError  # noqa: E402

T = TypeVar("T")
S = TypeVar("S")


# The share of a worker's memory limit that the prepared parts it keeps may take (see the module).
WORKER_KEEP = 0.25
# What a task prepares from a part, against the part's own size: the matching tables at full
# resolution with the series' spectra (about four times), the averaged ones, the proposal windows.
PREPARED_FACTOR = 6


# Dask settings for the worker processes of a cluster started here (``zorp-miner --workers``).
# Dask's workers return freed memory to the system at once (a trim threshold of 64 KiB, which
# also makes every allocation above 128 KiB a fresh mapping); the matching's arrays of a few
# to 64 MiB then fault their pages in anew at every step, and a robust run takes two to three
# times as long as in one process. Mappings from 64 MiB on, trimming from 128 MiB on, and no
# sampling profiler (a sample every 10 ms) bring it back to the speed of one process.
WORKER_SETTINGS: dict[str, object] = {
    "distributed.nanny.pre-spawn-environ.MALLOC_MMAP_THRESHOLD_": str(64 << 20),
    "distributed.nanny.pre-spawn-environ.MALLOC_TRIM_THRESHOLD_": str(128 << 20),
    "distributed.worker.profile.enabled": False,
}


def local_cluster(workers: int) -> Any:
    """A cluster of workers local worker processes, one thread each, with WORKER_SETTINGS."""
    from distributed import LocalCluster

    with dask.config.set(WORKER_SETTINGS):
        return LocalCluster(
            n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=":0"
        )


# How long a client opened from a scheduler's address waits for the scheduler to answer, in
# seconds, before the run gives up with a ClusterError.
CONNECT_TIMEOUT = 10.0


def connect(address: str) -> Client:
    """A client of the scheduler at address.

    Raises
    ------
    ClusterError
        When no scheduler answers there within CONNECT_TIMEOUT seconds; the message names the
        address.
    """
    try:
        return Client(address, timeout=CONNECT_TIMEOUT)
    except (OSError, TimeoutError) as error:
        raise ClusterError(
            f"no Dask scheduler answered at {address} within {CONNECT_TIMEOUT:g} s ({error})"
        ) from None


def client_of(client: object) -> tuple[Client, bool]:
    """The client to run on, and whether it was opened here (and is to be closed after).

    Parameters
    ----------
    client : dask.distributed.Client or str
        A client, or the address of a scheduler ("tcp://10.0.0.5:8786"), reached within
        CONNECT_TIMEOUT seconds or a ClusterError.
    """
    if isinstance(client, Client):
        return client, False
    if isinstance(client, str):
        return connect(client), True
    raise TypeError(
        "client must be a dask.distributed.Client or a scheduler's address such as "
        f"'tcp://10.0.0.5:8786', got {type(client).__name__}"
    )


def is_dask_input(data: object) -> bool:
    """Whether data is one of the inputs only a cluster run reads as parts: a Dask array, a
    sequence of delayed parts, or a list of files."""
    if isinstance(data, dask.array.Array):
        return True
    return _is_delayed_list(data) or is_file_list(data)


def _is_delayed_list(data: object) -> TypeGuard[Sequence[Delayed]]:
    return (
        isinstance(data, (list, tuple))
        and len(data) > 0
        and all(isinstance(item, Delayed) for item in data)
    )


def dask_parts(data: object, client: Client, reading: Mapping[str, Any] | None = None) -> DaskParts:
    """The parts of data for a run on the client's cluster; files are read with
    :func:`zorp_miner.load`'s options reading.

    Parameters
    ----------
    data : dask.array.Array, sequence of dask.delayed.Delayed, list of paths, or series
        A 1-D or 2-D Dask array (rows are series; each block of rows is a part, and a block
        cut across a row is joined first), delayed parts (each gives what
        :func:`zorp_miner.find_motifs` takes: a 2-D array, a list of series, ...), files (each a
        part, read by :func:`zorp_miner.load` on a worker), or series held here, which are cut
        into two parts per worker and scattered to the workers.
    """
    if isinstance(data, dask.array.Array):
        return DaskParts(client, *_array_recipes(data))
    if _is_delayed_list(data):
        delayed_parts = list(data)
        names = [f"delayed part {i} of {len(delayed_parts)}" for i in range(len(delayed_parts))]
        return DaskParts(
            client,
            [dask.delayed(checked_part, pure=True)(part, name) for part, name in zip(delayed_parts, names)],
            names,
        )
    if is_file_list(data):
        paths = [os.fspath(path) for path in data]
        return DaskParts(client, *file_recipes(paths, dict(reading or {})))
    series = as_series_set(data)
    workers = max(1, len(client.scheduler_info(n_workers=-1).get("workers", {})))
    bounds = split_points(len(series), 2 * workers)
    # One future per series, under keys of their own (not the content's hash): two runs on the
    # same series would share the keys, and the first run's release drop the data under the
    # second.
    futures = [client.scatter(series[a:b], hash=False) for a, b in zip(bounds, bounds[1:])]
    names = [f"series {a} to {b - 1}" for a, b in zip(bounds, bounds[1:])]
    recipes = [dask.delayed(_identity, pure=True)(f) for f in futures]
    return DaskParts(client, recipes, names, scattered=futures)


# The runs on series scattered from this process that with_parts starts at most.
SCATTER_TRIES = 3


class LostScatteredSeries(ClusterError):
    """Series scattered from this process were lost with the worker that held them."""


def with_parts(
    data: object,
    client: Client,
    work: Callable[[DaskParts], T],
    reading: Mapping[str, Any] | None = None,
) -> T:
    """work(parts) over the parts of data (see dask_parts), the parts closed after.

    Series held here have no recipe a worker could follow again: when a worker is lost with
    a part of them, the run starts over with the series scattered anew, SCATTER_TRIES runs at
    most, and then raises the LostScatteredSeries (a ClusterError) that names the part.
    """
    for attempt in range(1, SCATTER_TRIES + 1):
        try:
            with dask_parts(data, client, reading) as parts:
                return work(parts)
        except LostScatteredSeries:
            if attempt == SCATTER_TRIES:
                raise
    raise AssertionError("unreachable")


def file_recipes(
    paths: Sequence[str], options: dict[str, Any]
) -> tuple[list[Delayed], list[str]]:
    """Recipes that read each file on a worker, with :func:`zorp_miner.load`'s options."""
    recipes = [dask.delayed(loaded_part, pure=True)(path, options) for path in paths]
    return recipes, list(paths)


def _array_recipes(array: Any) -> tuple[list[Delayed], list[str]]:
    if array.ndim == 1:
        array = array[None, :]
    if array.ndim != 2:
        raise ValueError(
            f"a Dask array of series must have 1 or 2 dimensions (one series per row), got "
            f"{array.ndim} with shape {array.shape}"
        )
    if array.shape[0] == 0:
        raise ValueError("data is an empty set of series (a Dask array of 0 rows)")
    if len(array.chunks[1]) > 1:
        array = array.rechunk({1: -1})
    blocks = array.to_delayed()[:, 0].tolist()
    edges = np.cumsum([0, *array.chunks[0]])
    names = [f"rows {a} to {b - 1} of the array" for a, b in zip(edges, edges[1:])]
    return [
        dask.delayed(checked_part, pure=True)(block, name) for block, name in zip(blocks, names)
    ], names


def _identity(value: T) -> T:
    return value


def checked_part(data: object, name: str) -> list[FloatArray]:
    """One part's series, checked as find_motifs checks its input; errors name the part."""
    try:
        return as_series_set(data)
    except (TypeError, ValueError) as error:
        raise type(error)(f"{name}: {error}") from None


def loaded_part(path: str, options: dict[str, Any]) -> list[FloatArray]:
    """One file's series, read by :func:`zorp_miner.load` (whose errors name the file)."""
    return load(path, **options)


class _KeptParts:
    """What one worker process keeps, during one run, of the parts it worked on: each part's
    cache (a task's ``cache=``), for as many parts as fit in its budget, first come first kept.

    A task of another run starts afresh; a run ends by forgetting its parts on every worker.
    """

    def __init__(self) -> None:
        self.lock = threading.Lock()
        self.run: str | None = None
        self.caches: dict[int, dict[object, object]] = {}
        self.taken = 0

    def cache_for(self, run: str, part: int, size: int, budget: float) -> dict[object, object] | None:
        with self.lock:
            if run != self.run:
                self.run, self.caches, self.taken = run, {}, 0
            if part not in self.caches:
                if self.taken + size > budget:
                    return None
                self.taken += size
                self.caches[part] = {}
            return self.caches[part]

    def forget(self, run: str) -> None:
        with self.lock:
            if run == self.run:
                self.run, self.caches, self.taken = None, {}, 0


_kept = _KeptParts()


def _keep_budget(share: float) -> float:
    """share of this worker's memory limit (of the machine's memory per core without one)."""
    if share <= 0.0:
        return 0.0
    try:
        limit = float(get_worker().memory_manager.memory_limit or 0)
    except (ValueError, AttributeError):
        limit = 0.0
    if limit <= 0.0:
        limit = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / (os.cpu_count() or 1)
    return share * limit


def _call(
    task: Callable[..., T],
    series: list[FloatArray],
    first: int,
    run: str,
    part: int,
    share: float,
    *args: object,
) -> T:
    size = PREPARED_FACTOR * sum(one.nbytes for one in series)
    return task(series, first, *args, cache=_kept.cache_for(run, part, size, _keep_budget(share)))


def _forget(run: str) -> None:
    _kept.forget(run)


def _part_lengths(series: list[FloatArray]) -> list[int]:
    return [len(one) for one in series]


def _apply(task: Callable[..., T], value: object, *args: object) -> T:
    return task(value, *args)


class DaskParts:
    """A set of series whose parts the workers of a Dask cluster load (see the module).

    Parameters
    ----------
    client : dask.distributed.Client
    recipes : list of dask.delayed.Delayed
        Each part's loading, giving its list of checked series.
    names : list of str
        What each part is, for messages ("data/sensors-07.npy", "rows 0 to 499 of the array").
    scattered : list of lists of distributed.Future, optional
        When the parts are series scattered from this process: each part's futures (one per
        series), which a lost part's error names (see with_parts).
    """

    local = False

    def __init__(
        self,
        client: Client,
        recipes: list[Delayed],
        names: list[str],
        *,
        scattered: list[list[Future]] | None = None,
    ) -> None:
        self.client = client
        self.recipes = recipes
        self.names = names
        self.scattered = scattered or []
        self.run_id = uuid.uuid4().hex
        self.share = float(dask.config.get("zorp-miner.worker-keep", WORKER_KEEP))
        # The part each task of a step works on, by the task's key: what a lost task names.
        self._parts_of_keys: dict[object, int] = {}
        counting = [dask.delayed(_part_lengths, pure=True)(r) for r in recipes]
        self._parts_of_keys.update((graph.key, i) for i, graph in enumerate(counting))
        counts = self._gather(client.compute(counting), "counting the series of")
        self._parts_of_keys.clear()
        self.lengths = np.array([n for part in counts for n in part], dtype=np.int64)
        if len(self.lengths) == 0:
            raise ValueError("data is an empty set of series: its parts hold no series")
        # Parts without series take no part in the run.
        held = [i for i, part in enumerate(counts) if part]
        self.recipes = [recipes[i] for i in held]
        self.names = [names[i] for i in held]
        self.scattered = [self.scattered[i] for i in held] if self.scattered else []
        sizes = [len(counts[i]) for i in held]
        self.firsts = [int(x) for x in np.cumsum([0, *sizes[:-1]])]

    def _graph(self, i: int, task: Callable[..., T], args: tuple[object, ...]) -> Delayed:
        graph = dask.delayed(_call, pure=True)(
            task, self.recipes[i], self.firsts[i], self.run_id, i, self.share, *args
        )
        self._parts_of_keys[graph.key] = i
        return graph

    def _compute(self, graphs: dict[int, Delayed]) -> list[Future]:
        """Each part's graph on its own worker (part i on the i-th of the workers in address
        order, cyclically), or on another when that one is gone."""
        workers = sorted(self.client.scheduler_info(n_workers=-1).get("workers", {}))
        return [
            self.client.compute(
                graph,
                workers=[workers[i % len(workers)]] if workers else None,
                allow_other_workers=True,
            )
            for i, graph in graphs.items()
        ]

    def close(self) -> None:
        """Drops what the workers kept of the parts for this run."""
        try:
            self.client.run(_forget, self.run_id)
        except (OSError, TimeoutError):
            pass  # a worker gone keeps nothing

    def __enter__(self) -> DaskParts:
        return self

    def __exit__(self, *exception: object) -> None:
        self.close()

    def run(
        self,
        task: Callable[..., T],
        *shared: object,
        each: Sequence[tuple[object, ...]] | None = None,
    ) -> list[T]:
        return self.fetch(self.keep(task, *shared, each=each))

    def run_on(
        self, task: Callable[..., T], each: dict[int, tuple[object, ...]], *shared: object
    ) -> dict[int, T]:
        parts = sorted(each)
        futures = self._compute({i: self._graph(i, task, (*each[i], *shared)) for i in parts})
        return dict(zip(parts, self._gather(futures, "working on")))

    def run_unordered(self, task: Callable[..., T], *shared: object) -> Iterator[tuple[int, T]]:
        futures = self.keep(task, *shared)
        parts = {cast(Future, future).key: i for i, future in enumerate(futures)}
        for future in as_completed(futures):
            result: T = self._gather([future], "working on")[0]
            yield parts[future.key], result

    def keep(
        self,
        task: Callable[..., T],
        *shared: object,
        each: Sequence[tuple[object, ...]] | None = None,
    ) -> list[object]:
        graphs = {
            i: self._graph(i, task, (*(() if each is None else each[i]), *shared))
            for i in range(len(self.recipes))
        }
        return list(self._compute(graphs))

    def fold(
        self,
        task: Callable[..., S],
        start: S,
        kept: Sequence[object],
        each: Sequence[tuple[object, ...]] | None = None,
    ) -> S:
        state: object = start
        for i, value in enumerate(kept):
            future = self.client.submit(
                task, state, value, *(() if each is None else each[i]), pure=False
            )
            self._parts_of_keys[future.key] = i
            state = future
        result: S = self._gather([state], "adding up the results of")[0]
        return result

    def fetch(self, kept: Sequence[object]) -> list[Any]:
        return self._gather(list(kept), "working on")

    def keep_each(
        self, task: Callable[..., T], kept: Sequence[object], *shared: object
    ) -> list[object]:
        futures = [self.client.submit(_apply, task, value, *shared, pure=False) for value in kept]
        self._parts_of_keys.update((future.key, i) for i, future in enumerate(futures))
        handles: list[object] = list(futures)
        return handles

    def part_of(self, series: int) -> int:
        return int(np.searchsorted(self.firsts, series, side="right")) - 1

    def rows(
        self, kept: Sequence[object], index: int, counts: Sequence[int], width: int
    ) -> LaterRows:
        held = [(future, count) for future, count in zip(kept, counts, strict=True) if count > 0]
        return _LaterRows(self.client, held, index, width)

    def _gather(self, futures: list[Any], doing: str) -> list[Any]:
        try:
            return list(self.client.gather(futures))
        except KilledWorker as error:
            raise ClusterError(
                f"the run stopped without a result: the cluster lost the workers {doing} "
                f"{self._lost(error)} too many times ({error})"
            ) from None
        except CancelledError as error:
            # Tasks are cancelled when data they need is gone for good: series scattered from
            # here, lost with the worker that held them.
            lost = [
                i
                for i, futures in enumerate(self.scattered)
                if any(future.status != "finished" for future in futures)
            ]
            parts = ", ".join(f"part {i} ({self.names[i]})" for i in lost) or "a part of the set"
            kind = LostScatteredSeries if lost else ClusterError
            raise kind(
                f"the run stopped without a result: the cluster lost {parts}, scattered from "
                f"this process, with the worker that held it, {doing} the parts ({error})"
            ) from None

    def _lost(self, error: KilledWorker) -> str:
        """The part whose task was lost: a step's task on it, or a task of its loading."""
        key = getattr(error, "task", None)
        part = self._parts_of_keys.get(key)
        if part is None:
            loading = (i for i, r in enumerate(self.recipes) if key in r.__dask_graph__())
            part = next(loading, None)
        return "a part of the set" if part is None else f"part {part} ({self.names[part]})"


# Rows left on the cluster (see DaskParts.rows)

# The rounds in which rows left on the cluster come over: each round's parts are held here at
# once, beside the rows already in place.
FETCH_ROUNDS = 8


def _pick(values: Sequence[T], index: int) -> T:
    return values[index]


class _LaterRows:
    """Item ``index`` of the values of futures on the cluster, fetched when asked for.

    It holds the futures and the client, not the parts: the futures are released, and the
    workers drop the values, when the last holder of this object lets it go.

    Parameters
    ----------
    client : dask.distributed.Client
    held : list of (Future, int)
        Each part's future (its value a list of arrays) and its number of rows, in part
        order; parts without rows left out.
    index : int
        The item of each list.
    width : int
        Points per row.
    """

    def __init__(self, client: Client, held: list[tuple[object, int]], index: int, width: int) -> None:
        self.client = client
        self.held = held
        self.index = index
        self.width = width

    def fetch(self) -> FloatArray:
        """The rows, fetched in FETCH_ROUNDS rounds of parts, each part's rows written into
        place as they come, so that they are held here once (plus one round's parts).

        Raises
        ------
        ClusterError
            When the client was closed, or the cluster lost the values for good.
        """
        closed = "they were left on the Dask cluster, and the client of the run is closed"
        if self.client.status in ("closing", "closed"):
            raise ClusterError(closed)
        counts = [count for _, count in self.held]
        firsts = np.cumsum([0, *counts]).tolist()
        out = np.empty((firsts[-1], self.width), dtype=np.float64)
        step = max(1, -(-len(self.held) // FETCH_ROUNDS))
        try:
            picks = [
                self.client.submit(_pick, future, self.index, pure=False)
                for future, _ in self.held
            ]
            for start in range(0, len(picks), step):
                blocks = self.client.gather(picks[start : start + step])
                for i, block in enumerate(blocks, start=start):
                    put_rows(out, firsts[i], block, counts[i], self.width)
                del blocks
        except ClosedClientError:
            raise ClusterError(closed) from None
        except (CancelledError, KilledWorker) as error:
            raise ClusterError(
                f"they were left on the Dask cluster, which lost them ({type(error).__name__}: "
                f"{error})"
            ) from None
        return out


def computed_series(data: object) -> list[FloatArray]:
    """The series of a Dask array or a sequence of delayed parts computed in this process,
    with dask's default scheduler (a list of files is read by the caller, without dask)."""
    if isinstance(data, dask.array.Array):
        return as_series_set(data.compute())
    if not _is_delayed_list(data):
        raise TypeError(f"not a Dask array or a sequence of delayed parts: {type(data).__name__}")
    parts = dask.compute(*data)
    names = [f"delayed part {i} of {len(parts)}" for i in range(len(parts))]
    return [one for part, name in zip(parts, names) for one in checked_part(part, name)]
