"""A set of series held in parts: the steps of a run that read the series run part by part.

A part holds whole series, and the parts, in order, hold the series in ascending index order.
A run hands each step to its parts as a *task*, a plain module-level function called as
``task(series, first, *args)`` with the part's series (a list of float64 arrays, checked as
:func:`zorp_miner.io.inputs.as_series_set` checks them) and the index of its first series, and
gathers the results in part order. A task reads its own part only, so its result is the same
whatever the other parts hold, and a run over parts gives the answers of a run over one part
holding every series.

:class:`LocalParts` holds the series in this process (a run without a cluster is a run over one
local part); ``zorp_miner.cluster.dask.DaskParts`` loads each part on a worker of a Dask cluster.
"""

from __future__ import annotations

from collections.abc import Callable, Iterator, Sequence
from typing import Any, Protocol, TypeVar

import numpy as np

from zorp_miner._types import FloatArray, IntArray, LaterRows

T = TypeVar("T")
S = TypeVar("S")


class Parts(Protocol):
    """Series held in parts, each part whole series, in ascending series order.

    Attributes
    ----------
    lengths : numpy.ndarray of int64
        Points of every series, in index order.
    firsts : list of int
        The index of each part's first series; ``firsts[i + 1] - firsts[i]`` series are in
        part i.
    local : bool
        Whether the parts are held in this process (tasks then get a cache, see ``run``).
    """

    lengths: IntArray
    firsts: list[int]
    local: bool

    def run(
        self,
        task: Callable[..., T],
        *shared: object,
        each: Sequence[tuple[object, ...]] | None = None,
    ) -> list[T]:
        """``task(series, first, *each[i], *shared)`` on every part i; the results in part
        order. With ``local`` parts, the task also gets ``cache=``, a dict kept per part for
        the whole run, where it may keep what it prepared from its series."""
        ...

    def run_on(
        self, task: Callable[..., T], each: dict[int, tuple[object, ...]], *shared: object
    ) -> dict[int, T]:
        """As ``run``, on the parts given only (by their number), with their arguments."""
        ...

    def run_unordered(self, task: Callable[..., T], *shared: object) -> Iterator[tuple[int, T]]:
        """As ``run``, but (part, result) for each part as soon as it is done, in any order:
        a caller that puts each result away and drops it never holds them all."""
        ...

    def keep(
        self,
        task: Callable[..., T],
        *shared: object,
        each: Sequence[tuple[object, ...]] | None = None,
    ) -> list[object]:
        """As ``run``, but the results stay where they were computed: one handle per part."""
        ...

    def fold(
        self,
        task: Callable[..., S],
        start: S,
        kept: Sequence[object],
        each: Sequence[tuple[object, ...]] | None = None,
    ) -> S:
        """``state = task(state, kept[i], *each[i])`` for every part i in order, from
        ``start``: a reduction that keeps the order of the series."""
        ...

    def fetch(self, kept: Sequence[object]) -> list[Any]:
        """The values of handles from ``keep``."""
        ...

    def keep_each(
        self, task: Callable[..., T], kept: Sequence[object], *shared: object
    ) -> list[object]:
        """``task(value, *shared)`` on the value of each handle, where it is held."""
        ...

    def part_of(self, series: int) -> int:
        """The part holding a series."""
        ...

    def rows(
        self, kept: Sequence[object], index: int, counts: Sequence[int], width: int
    ) -> FloatArray | LaterRows:
        """Item ``index`` of each handle's value (each value a list of arrays), stacked in part
        order into rows of ``width`` points, ``counts[i]`` rows from part i: an array, or, for
        parts not held in this process, what fetches it when asked (the values stay where
        they are until then)."""
        ...


def split_points(count: int, parts: int) -> list[int]:
    """The first series of each of ``parts`` near-equal parts of ``count`` series, then count."""
    parts = max(1, min(parts, count))
    return [count * i // parts for i in range(parts + 1)]


class LocalParts:
    """Series held in this process, as one part or cut at given series.

    Parameters
    ----------
    series : list of numpy.ndarray
        Checked series (see :func:`zorp_miner.io.inputs.as_series_set`).
    cuts : sequence of int, optional
        The first series of every part after the first, ascending; one part by default.
    """

    local = True

    def __init__(self, series: list[FloatArray], cuts: Sequence[int] = ()) -> None:
        self.series = series
        self.lengths = np.array([len(one) for one in series], dtype=np.int64)
        bounds = [0, *cuts, len(series)]
        if series and any(b <= a for a, b in zip(bounds, bounds[1:])):
            raise ValueError(f"parts must each hold a series: cuts {list(cuts)} of {len(series)}")
        self.firsts = bounds[:-1]
        self._ends = bounds[1:]
        self._caches: list[dict[object, object]] = [{} for _ in self.firsts]

    def run(
        self,
        task: Callable[..., T],
        *shared: object,
        each: Sequence[tuple[object, ...]] | None = None,
    ) -> list[T]:
        return [
            task(
                self.series[first:end],
                first,
                *(() if each is None else each[i]),
                *shared,
                cache=self._caches[i],
            )
            for i, (first, end) in enumerate(zip(self.firsts, self._ends))
        ]

    def run_unordered(self, task: Callable[..., T], *shared: object) -> Iterator[tuple[int, T]]:
        for i, (first, end) in enumerate(zip(self.firsts, self._ends)):
            yield i, task(self.series[first:end], first, *shared, cache=self._caches[i])

    def run_on(
        self, task: Callable[..., T], each: dict[int, tuple[object, ...]], *shared: object
    ) -> dict[int, T]:
        return {
            i: task(
                self.series[self.firsts[i] : self._ends[i]],
                self.firsts[i],
                *args,
                *shared,
                cache=self._caches[i],
            )
            for i, args in each.items()
        }

    def keep(
        self,
        task: Callable[..., T],
        *shared: object,
        each: Sequence[tuple[object, ...]] | None = None,
    ) -> list[object]:
        return list(self.run(task, *shared, each=each))

    def fold(
        self,
        task: Callable[..., S],
        start: S,
        kept: Sequence[object],
        each: Sequence[tuple[object, ...]] | None = None,
    ) -> S:
        state = start
        for i, value in enumerate(kept):
            state = task(state, value, *(() if each is None else each[i]))
        return state

    def fetch(self, kept: Sequence[object]) -> list[Any]:
        return list(kept)

    def keep_each(
        self, task: Callable[..., T], kept: Sequence[object], *shared: object
    ) -> list[object]:
        return [task(value, *shared) for value in kept]

    def part_of(self, series: int) -> int:
        return int(np.searchsorted(self.firsts, series, side="right")) - 1

    def rows(
        self, kept: Sequence[object], index: int, counts: Sequence[int], width: int
    ) -> FloatArray:
        return stacked_rows([_item(values, index) for values in kept], counts, width)


def _item(values: object, index: int) -> object:
    if not isinstance(values, Sequence):
        raise TypeError(f"a kept value is not a sequence: {type(values).__name__}")
    return values[index]


def stacked_rows(blocks: Sequence[Any], counts: Sequence[int], width: int) -> FloatArray:
    """Blocks of counts[i] rows of width points each (any shape holding them), one after the
    other in a new float64 array of shape (sum(counts), width)."""
    out = np.empty((sum(counts), width), dtype=np.float64)
    offset = 0
    for block, count in zip(blocks, counts, strict=True):
        offset = put_rows(out, offset, block, count, width)
    return out


def put_rows(out: FloatArray, offset: int, block: Any, count: int, width: int) -> int:
    """Writes a block of count rows of width points (any shape holding them) into the rows of
    out from row offset; the row after them."""
    values = np.asarray(block, dtype=np.float64).reshape(-1)
    if len(values) != count * width:
        raise ValueError(f"a block of {len(values)} values is not {count} rows of {width} points")
    out.reshape(-1)[offset * width : (offset + count) * width] = values
    return offset + count
