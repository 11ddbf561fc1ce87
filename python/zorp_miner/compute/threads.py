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
import queue
import sys
import threading
from collections.abc import Callable, Iterator, Sequence
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


class _Task:
    """A call handed to the pool: started by a thread of the pool, or cancelled before one
    takes it; done once it has run or been cancelled."""

    def __init__(self) -> None:
        self.done = threading.Event()
        self.error: BaseException | None = None
        self._state = "queued"
        self._lock = threading.Lock()

    def claim(self, state: str) -> bool:
        """Whether the task was still queued, and is now in state ("running" or "cancelled")."""
        with self._lock:
            if self._state != "queued":
                return False
            self._state = state
        if state == "cancelled":
            self.done.set()
        return True

    def join(self) -> None:
        """Cancels the call if no thread has taken it yet, else waits for it and raises its
        error: a call still queued is never waited for (no thread may be free to take it)."""
        if self.claim("cancelled"):
            return
        self.done.wait()
        if self.error is not None:
            raise self.error


class _Pool:
    """Daemon threads that run the calls handed to them, a new one only when none is idle.

    Daemon threads, not a ThreadPoolExecutor's: that pool's exit waits for every thread it
    started, and a Ctrl-C landing while it starts one can leave a thread it never recorded and
    so never tells to stop; the command then waits forever at exit. An idle daemon thread never
    holds up the exit, and no call is left running at exit: map_each waits for its helpers.
    """

    def __init__(self, most: int) -> None:
        self._calls: queue.SimpleQueue[tuple[Callable[[], None], _Task]] = queue.SimpleQueue()
        self._idle = threading.Semaphore(0)
        self._lock = threading.Lock()
        self._started = 0
        self._most = most

    def submit(self, call: Callable[[], None], task: _Task) -> None:
        """Hands call to an idle thread, or to a new one: task says when it has run."""
        self._calls.put((call, task))
        if not self._idle.acquire(blocking=False):
            with self._lock:
                if self._started < self._most:
                    self._started += 1
                    name = f"zorp_miner_{self._started}"
                    threading.Thread(target=self._serve, name=name, daemon=True).start()

    def _serve(self) -> None:
        while True:
            call, task = self._calls.get()
            try:
                if task.claim("running"):
                    call()
            except BaseException as error:  # raised where the caller waits for it
                task.error = error
            finally:
                task.done.set()
            self._idle.release()


_pool: _Pool | None = None
_pool_lock = threading.Lock()


def _shared_pool() -> _Pool:
    """The process's pool of threads for per-series work, started on first use and kept:
    starting threads for every call costs more than short calls save."""
    global _pool
    with _pool_lock:
        if _pool is None:
            _pool = _Pool(MOST)
        return _pool


def map_each(function: Callable[[T], R], items: Sequence[T], units: float) -> list[R]:
    """[function(item) for item in items], on the run's threads when the work (units, in all)
    is worth it; each item's result is its own, whichever thread computes it: the same list."""
    threads = min(len(items), for_work(units, max(UNITS_PER_THREAD, PYTHON_UNITS_PER_THREAD)))
    if threads <= 1:
        return [function(item) for item in items]
    # The items are handed out one at a time to threads - 1 of the pool's threads and to this
    # one, which takes the next item whenever it is free.
    pending = iter(range(len(items)))
    lock = threading.Lock()
    results: list[R | None] = [None] * len(items)
    stop = threading.Event()

    def work() -> None:
        while not stop.is_set():
            with lock:
                k = next(pending, None)
            if k is None:
                return
            results[k] = function(items[k])

    # Each task is recorded before it is handed over, so that whatever is interrupted, every
    # task handed over is cancelled or waited for here.
    helpers: list[_Task] = []
    try:
        for _ in range(threads - 1):
            helpers.append(_Task())
            _shared_pool().submit(work, helpers[-1])
        work()
        for helper in helpers:
            helper.join()
    finally:
        # Ctrl-C (or an error) here or in a helper: no item starts after it, and the helpers
        # finish the item in hand before this returns.
        stop.set()
        for helper in helpers:
            try:
                helper.join()
            except BaseException:  # the first error is the one raised
                pass
    return cast(list[R], results)


def check_and_use(threads: WholeNumber | None) -> contextlib.AbstractContextManager[None]:
    """using(checked(threads)): checks threads before any work, then applies it."""
    return using(checked(threads))
