"""Progress of a run, in coarse steps: what ``find_motifs(progress=...)`` and the command line's
bar receive.

A run reports each step as it begins (the robust mode: for each length, its search in the
series, in the shuffled series, and the evidence; the exact mode: the letters of the series,
mining the patterns, averaging their occurrences, the representatives, the best matches and the
ranking). The
modes call :func:`plan` and :func:`step` only, which do nothing unless a caller is reporting
(:func:`reporting`); the reporting state is per thread (a context variable), so concurrent runs
report to their own callers.
"""

from __future__ import annotations

import shutil
import sys
import threading
import time
from collections.abc import Callable, Iterator
from contextlib import contextmanager
from contextvars import ContextVar
from dataclasses import dataclass
from typing import TextIO


@dataclass(frozen=True)
class Step:
    """One event of a run's progress.

    Attributes
    ----------
    done : int
        Steps finished before this one.
    total : int
        Steps planned so far: the run's, once it knows them (``known``), and until then those
        of reading the input.
    what : str
        The step beginning ("length 96: screening 256 proposals"), or "finished" for the
        last event, whose ``done`` equals ``total``.
    elapsed : float
        Seconds since the run began.
    known : bool
        Whether ``total`` is the run's whole count of steps (it no longer grows), or only that
        of the steps before it (reading files); a bar shows the step without a total until then.
    """

    done: int
    total: int
    what: str
    elapsed: float
    known: bool = True

    @property
    def finished(self) -> bool:
        """Whether this is the run's last event."""
        return self.done >= self.total and self.what == FINISHED


FINISHED = "finished"
Report = Callable[[Step], None]


class _Run:
    """The steps of one run, reported to one callable."""

    def __init__(self, report: Report) -> None:
        self.report = report
        self.done = -1  # the first step begins with none done
        self.total = 0
        self.known = False
        self.started = time.monotonic()

    def step(self, what: str) -> None:
        self.done += 1
        self.total = max(self.total, self.done + 1)
        self.report(Step(self.done, self.total, what, time.monotonic() - self.started, self.known))

    def finish(self) -> None:
        self.total = max(self.total, self.done + 1, 1)
        self.report(Step(self.total, self.total, FINISHED, time.monotonic() - self.started, True))


_current: ContextVar[_Run | None] = ContextVar("zorp_miner_progress", default=None)


def plan(steps: int, *, whole: bool = True) -> None:
    """Adds steps to the run being reported (nothing when none is): the run's own, planned
    once it knows them all (whole), or steps before them, such as reading its input (not
    whole: the total is not known yet)."""
    run = _current.get()
    if run is not None:
        run.total += steps
        run.known = run.known or whole


def step(what: str) -> None:
    """Reports that a step of the run begins (nothing when no run is reported)."""
    run = _current.get()
    if run is not None:
        run.step(what)


def reporter(progress: object) -> Report | None:
    """What a ``progress=`` argument asks for: None for nothing, or the callable to report to.

    Parameters
    ----------
    progress : None, bool or callable
        None: a bar on stderr when stderr is a terminal (as the command line draws it), no
        report otherwise. False: no report. True: a bar on stderr (:class:`Bar`). A callable:
        called with each :class:`Step`, in this thread.

    Raises
    ------
    TypeError
        For anything else.
    """
    if progress is False:
        return None
    if progress is None:
        return Bar(sys.stderr) if _on_terminal(sys.stderr) else None
    if progress is True:
        return Bar(sys.stderr)
    if callable(progress):
        return progress
    raise TypeError(
        "progress must be True (a bar on stderr), False or None (nothing), or a callable "
        f"that receives each zorp_miner.progress.Step, got {progress!r}"
    )


@contextmanager
def reporting(report: Report | None) -> Iterator[None]:
    """Reports the steps of the runs made inside, in this thread, to report (when not None);
    a last event (``Step.finished``) when they end, and a :class:`Bar` is closed either way."""
    if report is None:
        yield
        return
    run = _Run(report)
    token = _current.set(run)
    try:
        yield
        run.finish()
    finally:
        _current.reset(token)
        if isinstance(report, Bar):
            report.close()


class Bar:
    """A one-line progress bar, redrawn in place with a carriage return.

    Nothing is drawn until ``delay`` seconds have passed, so a short run leaves no trace; the
    line is erased when the bar is closed. A timer draws the step under way once the delay has
    passed, should it last longer.

    Parameters
    ----------
    stream : text stream
        Where to draw: stderr, usually.
    delay : float, optional
        Seconds before the first drawing; ``Bar.DELAY`` (1.0) by default.
    label : str, default "zorp-miner"
        The line's first word.
    """

    WIDTH = 20  # characters of the bar itself
    DELAY = 1.0  # seconds before the first drawing, by default

    def __init__(
        self, stream: TextIO, *, delay: float | None = None, label: str = "zorp-miner"
    ) -> None:
        self.stream = stream
        self.delay = self.DELAY if delay is None else delay
        self.label = label
        self.started = time.monotonic()
        self.latest: Step | None = None
        self.shown = 0  # characters of the line drawn last
        self.closed = False
        self.lock = threading.Lock()
        self.timer = threading.Timer(self.delay, self._draw)
        self.timer.daemon = True
        self.timer.start()

    def __call__(self, step: Step) -> None:
        with self.lock:
            self.latest = step
        if not step.finished and time.monotonic() - self.started >= self.delay:
            self._draw()

    def line(self, step: Step, columns: int) -> str:
        """The text drawn for step, within columns - 1 characters: the bar, the count and the
        step's words; the bar left out when the words would not fit beside it, and the words cut
        after a word with an ellipsis only when they fit in no other way. The count is
        "done/total", or "step N" while the total is not known."""
        filled = round(self.WIDTH * step.done / max(step.total, 1))
        bar = "#" * filled + "." * (self.WIDTH - filled)
        elapsed = time.monotonic() - self.started
        count = f"{step.done}/{step.total}" if step.known else f"step {step.done + 1}"
        room = max(columns - 1, 0)
        tail = f"  {elapsed:.0f} s"
        heads = [f"{self.label}: [{bar}] {count} ", f"{self.label}: {count} "] if step.known else [f"{self.label}: {count} "]
        for head in heads:
            if len(head) + len(step.what) + len(tail) <= room:
                return head + step.what + tail
        head = heads[-1]
        return (head + _shortened(step.what, max(room - len(head) - len(tail), 0)) + tail)[:room]

    def _draw(self) -> None:
        with self.lock:
            if self.closed or self.latest is None:
                return
            columns = shutil.get_terminal_size((80, 24)).columns
            text = self.line(self.latest, columns)
            self.stream.write("\r" + text + " " * max(self.shown - len(text), 0))
            self.stream.flush()
            self.shown = len(text)

    def close(self) -> None:
        """Stops the timer and erases the line drawn, if any."""
        self.timer.cancel()
        with self.lock:
            self.closed = True
            if self.shown:
                self.stream.write("\r" + " " * self.shown + "\r")
                self.stream.flush()
                self.shown = 0


def _on_terminal(stream: TextIO | None) -> bool:
    """Whether stream is a terminal (not a file, a pipe or a notebook's capture)."""
    try:
        return stream is not None and stream.isatty()
    except (AttributeError, ValueError):
        return False


def _shortened(words: str, most: int) -> str:
    """words within most characters: whole, or cut after a word with an ellipsis."""
    if len(words) <= most:
        return words
    cut = words[: max(most - 1, 0)]
    if " " in cut:
        cut = cut[: cut.rindex(" ")]
    return cut + "\u2026" if most > 0 else ""
