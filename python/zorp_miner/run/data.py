"""The input of a run: its series read in this process, or its parts loaded on a cluster.

What kind of input ``data`` is is decided here, and only here: a list of files, a Dask
collection, or series in any form :func:`zorp_miner.io.inputs.as_series_set` takes.
"""

from __future__ import annotations

import os
import sys
from collections.abc import Callable, Mapping
from typing import TYPE_CHECKING, Any, TypeVar

from zorp_miner import progress
from zorp_miner._types import FloatArray
from zorp_miner.io.files import is_file_list, load
from zorp_miner.io.inputs import as_series_set

if TYPE_CHECKING:
    from zorp_miner.cluster.dask import DaskParts

T = TypeVar("T")


def series_here(data: object, reading: Mapping[str, Any] | None = None) -> list[FloatArray]:
    """The checked series of data, in this process: each file read with
    :func:`zorp_miner.load`'s options reading (a progress step per file), a Dask collection
    computed with dask's default scheduler, anything else checked by ``as_series_set``."""
    if is_file_list(data):
        names = [os.fspath(path) for path in data]
        progress.plan(len(names), whole=False)  # the run plans its own steps once read
        series: list[FloatArray] = []
        for name in names:
            progress.step(f"reading {name}")  # a long file shows its name while it is read
            series.extend(load(name, **dict(reading or {})))
        return series
    if "dask" in sys.modules:
        from zorp_miner.cluster import dask

        if dask.is_dask_input(data):
            return dask.computed_series(data)
    return as_series_set(data)


def on_parts(
    data: object,
    client: Any,
    work: Callable[[DaskParts], T],
    reading: Mapping[str, Any] | None = None,
) -> T:
    """work(parts) over the parts of data loaded by the workers of client's cluster (files read
    there with reading), the parts dropped after; see :func:`zorp_miner.cluster.dask.with_parts`."""
    from zorp_miner.cluster import dask

    return dask.with_parts(data, client, work, reading)
