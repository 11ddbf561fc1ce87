"""The client of the cluster a run uses: given, opened from a scheduler's address, or a cluster
of local worker processes started for the run; what was opened here is closed after."""

from __future__ import annotations

from collections.abc import Iterator
from contextlib import contextmanager
from typing import Any


@contextmanager
def opened(client: object = None, workers: int | None = None) -> Iterator[tuple[Any, bool]]:
    """The client to run on and whether it was opened here (and is closed on the way out): the
    client given (a ``dask.distributed.Client`` is used as it is, an address opened), else a
    cluster of workers local processes (started, then stopped), else (None, False): this
    process.

    Raises
    ------
    ImportError
        When dask's distributed scheduler is not installed (the dask extra).
    zorp_miner.ClusterError
        When no scheduler answers at the address in time.
    TypeError
        For a client that is neither a Client nor an address.
    """
    if client is None and workers is None:
        yield None, False
        return
    from zorp_miner.cluster import dask

    if client is not None:
        cluster, here = dask.client_of(client)
        try:
            yield cluster, here
        finally:
            if here:
                cluster.close()
        return
    from distributed import Client

    with dask.local_cluster(workers or 1) as local, Client(local) as started:
        yield started, True
