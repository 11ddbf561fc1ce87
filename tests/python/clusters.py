"""What the cluster tests share: a local cluster of two worker processes, the parts a set of
series is cut into, and a worker that kills itself mid-run."""

import contextlib
import os
import pathlib
import signal
import tempfile
import time
from collections.abc import Iterator
from typing import Any

import dask
import distributed

from conftest import planted_walks, random_walks
from zorp_miner._types import FloatArray
from zorp_miner.io.inputs import as_series_set

# Parts of unequal sizes, one of them a single series.
BOUNDS = [0, 2, 9, 10, 22, 30]

EXACT: dict[str, Any] = {"mode": "exact", "seglen": 8, "alphabet": 5}


def planted_set() -> list[FloatArray]:
    """30 noisy walks, each with the square wave that the robust mode finds."""
    return as_series_set(planted_walks(30, seed=5))


def walks_set() -> list[FloatArray]:
    """30 random walks of 200 to 278 points."""
    return as_series_set([w[: 200 + 13 * (i % 7)] for i, w in enumerate(random_walks(30, 300, seed=8))])


@contextlib.contextmanager
def local_client() -> Iterator[Any]:
    """A client of a LocalCluster of two worker processes that run their tasks one at a time; no
    memory limit, since under the sanitizers a worker's memory holds the shadow memory too.

    The cluster closes a worker's nanny for good when no worker of that name is back the
    lost-worker time-out (15 s) after one was lost: a timer left by a kill in an earlier test
    then fires while a later test's victim is being started anew, and the cluster is left with
    one worker. The tests here kill workers on purpose and wait for them, so the time-out is a
    day."""
    with dask.config.set({"distributed.deploy.lost-worker-timeout": "1 day"}), distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0", memory_limit=0
    ) as cluster, distributed.Client(cluster) as client:
        yield client


def delayed_parts(series: list[FloatArray]) -> list[Any]:
    return [dask.delayed(list)(series[a:b]) for a, b in zip(BOUNDS, BOUNDS[1:])]


WorkerPlugin: Any = distributed.WorkerPlugin


class KillOnce(WorkerPlugin):  # type: ignore[misc]
    """Kills its worker's process as that worker starts the first task, on any worker, whose key
    begins with step; the file at mark (created once, holding the victim's pid) keeps the
    workers started anew from killing themselves too."""

    def __init__(self, step: str, mark: str) -> None:
        self.step = step
        self.mark = mark

    def transition(self, key: Any, start: str, finish: str, **kwargs: Any) -> None:
        if finish != "executing" or not str(key).startswith(self.step):
            return
        try:
            handle = os.open(self.mark, os.O_CREAT | os.O_EXCL | os.O_WRONLY)
        except FileExistsError:
            return
        os.write(handle, str(os.getpid()).encode())
        os.close(handle)
        os.kill(os.getpid(), signal.SIGKILL)


def kill_one_worker_during(client: Any, run: Any, step: str = "_call") -> Any:
    """Runs run() with a worker plugin that kills the worker process starting the first task
    whose key starts with step (the steps after loading and counting the series are
    "_call-..."), and returns what run() returned (or raises what it raised). The worker kills
    itself as the task starts, so the kill lands mid-run however fast the tasks are; watching
    the scheduler from here for a busy worker missed short tasks on a loaded machine."""
    with tempfile.TemporaryDirectory() as folder:
        mark = os.path.join(folder, "victim")
        name = f"kill-once-{step}-{time.monotonic_ns()}"
        client.register_plugin(KillOnce(step, mark), name=name)
        error: BaseException | None = None
        value = None
        try:
            value = run()
        except BaseException as raised:  # raised after the checks below
            error = raised
        finally:
            client.unregister_worker_plugin(name)
        assert os.path.exists(mark), f"no worker started a task {step!r}"
        victim = int(pathlib.Path(mark).read_text())
    # The nanny starts a worker anew; under load a process takes a while to import everything.
    client.wait_for_workers(2, timeout=300)
    assert len(client.cluster.workers) == 2, "the cluster gave up a worker instead of starting it anew"
    assert victim not in client.run(os.getpid).values(), "the worker was killed and started anew"
    if error is not None:
        raise error
    return value
