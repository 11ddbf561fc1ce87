"""Runs on a Dask cluster: the parts of a set loaded and worked on by the workers.

:class:`DaskParts` is the cluster's side of ``zorp_miner._parts.Parts``. Each part is a
recipe the workers follow to load it (a chunk of a Dask array, a delayed object of the user's,
a file read with :func:`zorp_miner.load`, or series this process scattered); every step of a
run is a graph of pure tasks, each loading its part and working on it, so that a worker holds
one part at a time plus what its step needs, and the raw series never come to this process.
Results a later step needs stay on the workers (Dask futures) until it has used them.

When a worker is lost, the scheduler runs its tasks again elsewhere from their recipes; when
that is not possible (a task lost with too many workers), the run stops with a
:class:`ClusterError` that names the part, and no result.

Importing this module imports dask; ``zorp_miner`` imports it only for a run given a cluster.
"""

from __future__ import annotations

import os
from collections.abc import Callable, Sequence
from typing import Any, TypeGuard, TypeVar

import numpy as np

from ._extras import require
from ._parts import split_points
from .files import is_file_list, load
from .inputs import FloatArray, as_series_set

require("distributed", "running on a Dask cluster")

import dask  # noqa: E402
import dask.array  # noqa: E402
from dask.delayed import Delayed  # noqa: E402
from distributed import Client, Future, KilledWorker  # noqa: E402

T = TypeVar("T")
S = TypeVar("S")


class ClusterError(RuntimeError):
    """A run on a cluster that could not complete: it gives no result, not a partial one."""


def client_of(client: object) -> tuple[Client, bool]:
    """The client to run on, and whether it was opened here (and is to be closed after).

    Parameters
    ----------
    client : dask.distributed.Client or str
        A client, or the address of a scheduler ("tcp://10.0.0.5:8786").
    """
    if isinstance(client, Client):
        return client, False
    if isinstance(client, str):
        return Client(client), True
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


def dask_parts(data: object, client: Client) -> DaskParts:
    """The parts of data for a run on the client's cluster.

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
        return DaskParts(client, *file_recipes(paths, {}))
    series = as_series_set(data)
    workers = max(1, len(client.scheduler_info(n_workers=-1).get("workers", {})))
    bounds = split_points(len(series), 2 * workers)
    futures = [client.scatter(series[a:b], hash=True) for a, b in zip(bounds, bounds[1:])]
    names = [f"series {a} to {b - 1}" for a, b in zip(bounds, bounds[1:])]
    return DaskParts(client, [dask.delayed(_identity, pure=True)(f) for f in futures], names)


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


def _call(task: Callable[..., T], series: list[FloatArray], first: int, *args: object) -> T:
    return task(series, first, *args)


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
    """

    local = False

    def __init__(self, client: Client, recipes: list[Delayed], names: list[str]) -> None:
        self.client = client
        self.recipes = recipes
        self.names = names
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
        sizes = [len(counts[i]) for i in held]
        self.firsts = [int(x) for x in np.cumsum([0, *sizes[:-1]])]

    def _graph(self, i: int, task: Callable[..., T], args: tuple[object, ...]) -> Delayed:
        graph = dask.delayed(_call, pure=True)(task, self.recipes[i], self.firsts[i], *args)
        self._parts_of_keys[graph.key] = i
        return graph

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
        futures = self.client.compute([self._graph(i, task, (*each[i], *shared)) for i in parts])
        return dict(zip(parts, self._gather(futures, "working on")))

    def keep(
        self,
        task: Callable[..., T],
        *shared: object,
        each: Sequence[tuple[object, ...]] | None = None,
    ) -> list[object]:
        graphs = [
            self._graph(i, task, (*(() if each is None else each[i]), *shared))
            for i in range(len(self.recipes))
        ]
        return list(self.client.compute(graphs))

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
        return futures

    def part_of(self, series: int) -> int:
        return int(np.searchsorted(self.firsts, series, side="right")) - 1

    def _gather(self, futures: list[Future], doing: str) -> list[Any]:
        try:
            return list(self.client.gather(futures))
        except KilledWorker as error:
            raise ClusterError(
                f"the run stopped without a result: the cluster lost the workers {doing} "
                f"{self._lost(error)} too many times ({error})"
            ) from None

    def _lost(self, error: KilledWorker) -> str:
        """The part whose task was lost: a step's task on it, or a task of its loading."""
        key = getattr(error, "task", None)
        part = self._parts_of_keys.get(key)
        if part is None:
            loading = (i for i, r in enumerate(self.recipes) if key in r.__dask_graph__())
            part = next(loading, None)
        return "a part of the set" if part is None else f"part {part} ({self.names[part]})"


def computed_series(data: object) -> list[FloatArray]:
    """The series of a Dask input computed in this process, with dask's default scheduler."""
    if isinstance(data, dask.array.Array):
        return as_series_set(data.compute())
    if _is_delayed_list(data):
        parts = dask.compute(*data)
        names = [f"delayed part {i} of {len(parts)}" for i in range(len(parts))]
        return [one for part, name in zip(parts, names) for one in checked_part(part, name)]
    if not is_file_list(data):
        raise TypeError(f"not a Dask input: {type(data).__name__}")
    return [one for path in data for one in load(path)]
