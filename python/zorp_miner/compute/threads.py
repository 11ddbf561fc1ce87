"""How many threads the kernels of a run use, and running per-series work on them.

A run uses every core the process may use (``os.sched_getaffinity``) unless it is given
``threads=``; inside a Dask worker, the worker's threads. The choice is made per run in this
thread (a context variable), so concurrent runs keep their own. Whatever the number, every
kernel gives the same results bit for bit: its tasks write apart, and each is computed in the
same order on any thread.
"""

from __future__ import annotations

import contextlib
import contextvars
import os
import sys
import threading
from collections.abc import Callable, Iterator, Sequence
from concurrent.futures import ThreadPoolExecutor
from typing import TypeVar, cast

from zorp_miner.params import WholeNumber, whole_number

T = TypeVar("T")
R = TypeVar("R")

MOST = 1024  # threads a run may be given
# Work (in multiply-adds, about a nanosecond each) under which a native call stays on one
# thread: starting a thread costs tens of microseconds.
UNITS_PER_THREAD = 1 << 20
# Python threads hand the interpreter lock back and forth between numpy's calls: work done that
# way pays only from several milliseconds per thread.
PYTHON_UNITS_PER_THREAD = 1 << 23

_chosen: contextvars.ContextVar[int | None] = contextvars.ContextVar("zorp_miner_threads", default=None)


def available() -> int:
    """The cores this process may run on."""
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except (AttributeError, OSError):  # not on Linux
        return max(1, os.cpu_count() or 1)


def checked(threads: object) -> int | None:
    """threads as given to a run: None (every core) or a whole number from 1 to MOST."""
    if threads is None:
        return None
    return whole_number(threads, "threads", 1, MOST, "threads")


def _worker_threads() -> int | None:
    """The threads of the Dask worker running this task; None outside a worker."""
    distributed = sys.modules.get("distributed")
    if distributed is None:
        return None
    try:
        worker = distributed.get_worker()
    except ValueError:
        return None
    state = getattr(worker, "state", worker)
    threads = getattr(state, "nthreads", None)
    return int(threads) if isinstance(threads, int) and threads > 0 else None


def current() -> int:
    """The threads the kernels of the run in progress use (see the module)."""
    chosen = _chosen.get()
    if chosen is not None:
        return chosen
    worker = _worker_threads()
    return worker if worker is not None else available()


@contextlib.contextmanager
def using(threads: int | None) -> Iterator[None]:
    """The runs made inside use threads threads (None: every core, or the Dask worker's)."""
    token = _chosen.set(threads)
    try:
        yield
    finally:
        _chosen.reset(token)


def for_work(units: float, per_thread: float | None = None) -> int:
    """The threads for a kernel call of about units multiply-adds: the run's, fewer for short
    work (at least per_thread each, UNITS_PER_THREAD by default)."""
    threads = current()
    if threads == 1:
        return 1
    least = UNITS_PER_THREAD if per_thread is None else per_thread
    return max(1, min(threads, int(units // max(least, 1))))


_pool: ThreadPoolExecutor | None = None
_pool_lock = threading.Lock()


def _shared_pool() -> ThreadPoolExecutor:
    """The process's pool of threads for per-series work, started on first use and kept:
    starting threads for every call costs more than short calls save."""
    global _pool
    with _pool_lock:
        if _pool is None:
            _pool = ThreadPoolExecutor(MOST, thread_name_prefix="zorp_miner")
        return _pool


def map_each(function: Callable[[T], R], items: Sequence[T], units: float) -> list[R]:
    """[function(item) for item in items], on the run's threads when the work (units, in all)
    is worth it; each item's result is its own, whichever thread computes it: the same list."""
    threads = min(len(items), for_work(units, max(UNITS_PER_THREAD, PYTHON_UNITS_PER_THREAD)))
    if threads <= 1:
        return [function(item) for item in items]
    # The items are handed out one at a time to threads - 1 of the pool's threads and to this
    # one, which takes the next item whenever it is free.
    queue = iter(range(len(items)))
    lock = threading.Lock()
    results: list[R | None] = [None] * len(items)
    stop = threading.Event()

    def work() -> None:
        while not stop.is_set():
            with lock:
                k = next(queue, None)
            if k is None:
                return
            results[k] = function(items[k])

    futures = [_shared_pool().submit(work) for _ in range(threads - 1)]
    try:
        work()
        for future in futures:
            future.result()
    finally:
        # Ctrl-C (or an error) here or in a helper: no item starts after it, and the helpers
        # finish the item in hand before this returns.
        stop.set()
        for future in futures:
            try:
                future.result()
            except BaseException:  # the first error is the one raised
                pass
    return cast(list[R], results)


def check_and_use(threads: WholeNumber | None) -> contextlib.AbstractContextManager[None]:
    """using(checked(threads)): checks threads before any work, then applies it."""
    return using(checked(threads))
