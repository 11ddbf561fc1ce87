"""Chance's radius around a shape found within one series: its smallest distance to any window
of shuffled copies of the series (docs/within.md), with the shuffles held, or made anew a batch
at a time for a long recording."""

from __future__ import annotations

import math
from collections.abc import Callable

import numpy as np

from zorp_miner.compute import threads as _threads
from zorp_miner.compute.evidence import autocorrelation, content_key, segment_points, shuffled
from zorp_miner.compute.sliding import SeriesBank, resolution
from zorp_miner._types import FloatArray

NULL_DRAWS = 39  # shuffles of the series: chance's radius around a motif's shape
CHANCE_BYTES = 1 << 31  # the shuffles held at once, at most: longer series make them per motif
BANK_BYTES_PER_POINT = 48  # a prepared shuffle's values, weights, deviations, usability, spectrum
# What each thread holds while it makes and prepares a shuffle (the shuffle's temporaries, the
# statistics' scratch), and what those threads may hold together beyond the shuffles: a long
# recording's are made by fewer threads (3 x 10^6 points: 2, 10^7: 1).
WORK_BYTES_PER_POINT = 160
WORK_BYTES = 1 << 30


class Chance:
    """Chance's radius around a shape: its smallest distance to any window of NULL_DRAWS
    shuffles of the series (segments of ceil(m / 4) points).

    The shuffles are prepared once and held when they fit in CHANCE_BYTES; a longer series has
    them made anew, CHANCE_BYTES' worth at a time, for each shape, which costs time but keeps
    the memory of a search within a long recording from growing 39-fold with its length. A
    shuffle's best match comes from that shuffle alone, so the radius is the same either way.
    """

    def __init__(self, values: FloatArray, m: int) -> None:
        self.values = values
        self.m = m
        self.seglen = segment_points(m)
        self.key = content_key(values)
        self.memory = autocorrelation(values, self.seglen)
        self.step = resolution(values)
        points = max(1, len(values))
        self.batch = max(1, min(NULL_DRAWS, CHANCE_BYTES // (BANK_BYTES_PER_POINT * points)))
        # Threads make and prepare shuffles side by side while their work fits in WORK_BYTES.
        self.threads = max(1, min(_threads.current(), WORK_BYTES // (WORK_BYTES_PER_POINT * points)))
        self.held = self._bank(0) if self.batch == NULL_DRAWS else None

    def _bank(self, first: int) -> SeriesBank:
        draws = range(first, min(NULL_DRAWS, first + self.batch))

        def one(draw: int) -> FloatArray:
            return shuffled(self.values, self.seglen, self.key, draw, memory=self.memory)

        # Each shuffle on its own (some 30 operations a point, on whole arrays that let the
        # other threads run), on the threads whose work fits (see WORK_BYTES): the same
        # shuffles in the same order.
        with _threads.using(self.threads):
            shuffles = _threads.map_each(one, draws, 30.0 * len(self.values) * len(draws))
            # The series' resolution: the shuffles' joins move their points off its steps.
            return SeriesBank(shuffles, self.m, [self.step] * len(shuffles))

    def radius(self, shape: FloatArray) -> float:
        """The shape's (m points, z-normalised) smallest distance to a window of a shuffle."""
        return self.bound(shape, lambda _: False)[0]

    def bound(self, shape: FloatArray, settled: Callable[[float], bool]) -> tuple[float, bool]:
        """The radius of `radius` and True; or, where the shuffles are made anew a batch at a
        time, the smallest distance in those made so far and False, as soon as settled(that
        distance) holds: the radius is at most it, and the caller needs no more."""
        if self.held is not None:
            return float(np.min(self.held.best(shape[None, :])[1], initial=np.inf)), True
        least = math.inf
        for first in range(0, NULL_DRAWS, self.batch):
            least = min(least, float(np.min(self._bank(first).best(shape[None, :])[1], initial=np.inf)))
            if first + self.batch < NULL_DRAWS and settled(least):
                return least, False
        return least, True
